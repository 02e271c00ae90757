#!/usr/bin/env bash
# Runs every test of an already configured and built tree, then the same suite
# under AddressSanitizer and UBSan (with leak detection), the fuzz targets, and
# both programs under valgrind memcheck.
#   scripts/test.sh [build-folder]
# Environment: ASAN_BUILD (build-asan), FUZZ_BUILD (build-fuzz), FUZZ_SECONDS
# (60 per target). With CI=true a missing tool fails the run instead of
# skipping that stage.
set -uo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build}
ASAN_BUILD=${ASAN_BUILD:-build-asan}
FUZZ_BUILD=${FUZZ_BUILD:-build-fuzz}
FUZZ_SECONDS=${FUZZ_SECONDS:-60}
IN_CI=0
[ "${CI:-}" = "true" ] && IN_CI=1

failed=()
stage() { echo; echo "==== test: $* ($(date -u +%H:%M:%S))"; }
fail() { echo "==== test: FAILED: $*" >&2; failed+=("$*"); }

# A stage whose tools are missing: a failure in CI, a loud skip elsewhere.
have_tools() {
  local stage=$1 missing=()
  shift
  for tool in "$@"; do command -v "$tool" >/dev/null || missing+=("$tool"); done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$IN_CI" -eq 1 ]; then
    fail "$stage: ${missing[*]} not installed"
  else
    echo "==== test: SKIPPED $stage: ${missing[*]} not installed (run scripts/setup.sh)" >&2
  fi
  return 1
}

# ctest, with skipped tests (exit code 77: a tool or display missing) counted
# as failures in CI.
run_ctest() {
  local name=$1 dir=$2
  shift 2
  local log="$dir/ctest-output.log"
  ctest --test-dir "$dir" --output-on-failure -j2 "$@" 2>&1 | tee "$log"
  [ "${PIPESTATUS[0]}" -eq 0 ] || fail "$name"
  if [ "$IN_CI" -eq 1 ] && grep -q '\*\*\*Skipped\|Not Run' "$log"; then
    fail "$name: tests skipped in CI"
  fi
}

stage "unit, integration and end-to-end tests ($BUILD)"
run_ctest "tests in $BUILD" "$BUILD" --timeout 300

stage "the same suite under AddressSanitizer, UBSan and LeakSanitizer ($ASAN_BUILD)"
if cmake -S . -B "$ASAN_BUILD" -DPLUMORA_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
     -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1" -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g1" \
     >/dev/null &&
   # Test discovery runs each test program to list its tests: leaks are
   # checked when the tests run, below.
   ASAN_OPTIONS=detect_leaks=0 cmake --build "$ASAN_BUILD" -j2 >"$ASAN_BUILD/build.log" 2>&1; then
  ASAN_OPTIONS="detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1" \
  LSAN_OPTIONS="suppressions=$PWD/tests/reliability/lsan.supp:print_suppressions=0" \
  UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
    run_ctest "sanitizer tests in $ASAN_BUILD" "$ASAN_BUILD" --timeout 600
else
  tail -40 "$ASAN_BUILD/build.log" >&2
  fail "sanitizer build"
fi

stage "fuzzing, ${FUZZ_SECONDS}s per target ($FUZZ_BUILD)"
if have_tools fuzzing clang clang++; then
  bash scripts/fuzz.sh "$FUZZ_SECONDS" "$FUZZ_BUILD" || fail "fuzzing"
fi

stage "valgrind memcheck of both programs"
if have_tools memcheck valgrind Xvfb xdotool xdpyinfo; then
  bash scripts/valgrind/memcheck.sh "$BUILD" || fail "memcheck"
fi

echo
if [ ${#failed[@]} -ne 0 ]; then
  echo "==== test: ${#failed[@]} stage(s) failed:" >&2
  printf '  %s\n' "${failed[@]}" >&2
  exit 1
fi
echo "==== test: every stage passed"
