#!/usr/bin/env bash
# Line and branch coverage of the product code by the whole test suite.
#   scripts/coverage.sh [build-folder]      (default build-cov/)
# Builds the tree with gcc's --coverage at -O0, runs every CTest test (the
# end-to-end ones included: they need Xvfb), and prints gcovr's summary for
# platform/, screensaver/, settings/ and common/. The HTML report lands in
# <build>/coverage/index.html.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build-cov}
command -v gcovr >/dev/null || { echo "coverage: gcovr is not installed (scripts/setup.sh)" >&2; exit 1; }

cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_C_FLAGS_DEBUG="-O0 -g --coverage" -DCMAKE_CXX_FLAGS_DEBUG="-O0 -g --coverage" \
  -DCMAKE_EXE_LINKER_FLAGS="--coverage" >/dev/null
cmake --build "$BUILD" -j"${JOBS:-2}" >/dev/null
find "$BUILD" -name '*.gcda' -delete
ctest --test-dir "$BUILD" -j"${JOBS:-2}" --timeout 600 --output-on-failure >"$BUILD/coverage-ctest.log" 2>&1 ||
  { tail -30 "$BUILD/coverage-ctest.log" >&2; echo "coverage: tests failed (figures below are partial)" >&2; }

mkdir -p "$BUILD/coverage"
filter=(--filter 'platform/' --filter 'screensaver/' --filter 'settings/' --filter 'common/')
gcovr --root . --object-directory "$BUILD" "${filter[@]}" \
  --html-details "$BUILD/coverage/index.html" --print-summary
