#!/usr/bin/env bash
# Fuzzes the model readers (.x; OBJ, STL, PLY and glTF) and the settings-file code
# with libFuzzer.
#   scripts/fuzz.sh [seconds-per-target] [build-folder]
# Defaults: 60 seconds each, build-fuzz/. The build uses clang with
# -DPLUMORA_FUZZ=ON and only the fuzz/ folder. The corpus grows in
# <build>/corpus/<target> between runs; seeds come from fuzz/make_seeds and the
# saved findings in fuzz/corpus/regressions/ and the kept corpus in fuzz/corpus/coverage/
# (see fuzz/CMakeLists.txt). Any finding (crash, leak, timeout,
# out of memory, failed check) fails the run and leaves its input in
# <build>/artifacts/: copy it into fuzz/corpus/regressions/<xfile|models|profile>/ once
# the fault is fixed, and the ordinary test suite replays it from then on.
#
# Longer runs: FUZZ_JOBS=2 scripts/fuzz.sh 3600 runs each target an hour on two
# processes (libFuzzer -fork); FUZZ_TARGETS="xfile_fuzz" picks targets.
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_EACH=${1:-60}
BUILD=${2:-build-fuzz}
JOBS=${FUZZ_JOBS:-1}
TARGETS=${FUZZ_TARGETS:-"xfile_fuzz models_fuzz profile_fuzz"}

for tool in clang clang++; do
  command -v "$tool" >/dev/null || { echo "fuzz: $tool is not installed" >&2; exit 1; }
done
if ! clang++ -print-file-name=libclang_rt.fuzzer-x86_64.a | grep -q /; then
  echo "fuzz: the clang libFuzzer runtime (libclang-rt-14-dev) is not installed" >&2
  exit 1
fi

CC=clang CXX=clang++ cmake -S . -B "$BUILD" -DPLUMORA_FUZZ=ON -DPLUMORA_PARTS=fuzz \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" -j2 >/dev/null
"$BUILD/fuzz/make_seeds" "$BUILD/seeds"
mkdir -p "$BUILD/artifacts"

status=0
for target in $TARGETS; do
  kind=${target%_fuzz}
  corpus="$BUILD/corpus/$target"
  mkdir -p "$corpus"
  log="$BUILD/$target.log"
  rm -f "$BUILD/artifacts/$target-"*
  args=(-max_total_time="$SECONDS_EACH" -timeout=10 -rss_limit_mb=1024 -malloc_limit_mb=512
        -max_len=16384 -print_final_stats=1 -dict="fuzz/$kind.dict"
        -artifact_prefix="$BUILD/artifacts/$target-")
  [ "$JOBS" -gt 1 ] && args+=(-fork="$JOBS" -ignore_crashes=0)
  echo "fuzz: $target for ${SECONDS_EACH}s"
  rc=0
  "$BUILD/fuzz/$target" "${args[@]}" "$corpus" "$BUILD/seeds/$kind" \
    "fuzz/corpus/regressions/$kind" $(ls -d "fuzz/corpus/coverage/$kind" 2>/dev/null) \
    >"$log" 2>&1 || rc=$?
  grep -E '^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)' "$log" |
    sed "s/^/fuzz: $target /" || true
  findings=$(find "$BUILD/artifacts" -name "$target-*" | wc -l)
  if [ "$rc" -ne 0 ] || [ "$findings" -ne 0 ]; then
    echo "fuzz: $target FAILED (exit $rc, $findings finding(s) in $BUILD/artifacts/)" >&2
    grep -E 'ERROR|SUMMARY|_fuzz:|Test unit written' "$log" | head -20 >&2 || true
    status=1
  else
    echo "fuzz: $target: no findings"
  fi
done
exit "$status"
