# make run   installs what is missing, builds, and starts the saver full-screen
# make test  installs what is missing, builds, and runs every test
BUILD ?= build
JOBS ?= 2

.PHONY: all setup build run test clean

all: build

setup:
	@bash scripts/setup.sh

build: setup
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j$(JOBS)

run: build
	bash scripts/run.sh $(BUILD)

test: build
	bash scripts/test.sh $(BUILD)

clean:
	rm -rf $(BUILD) build-asan
