#!/usr/bin/env bash
# Builds and runs the whole test suite: the normal build, then the unit tests under
# AddressSanitizer + UndefinedBehaviorSanitizer and under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
run_build() {  # dir, build type, ctest regex (empty: all)
  cmake -S . -B "$1" -DCMAKE_BUILD_TYPE="$2" > "$1.configure.log" 2>&1 || { cat "$1.configure.log"; exit 1; }
  cmake --build "$1" -j"$jobs"
  (cd "$1" && ctest --output-on-failure -j"$jobs" ${3:+-R "$3"})
}
mkdir -p build-logs
run_build build RelWithDebInfo ""
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$PWD/tools/lsan.supp
run_build build-asan Asan ""
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1"
run_build build-tsan Tsan "Chain|Stress|Batch|Runner|Thread|ProjectSettings|InfoCounters"
