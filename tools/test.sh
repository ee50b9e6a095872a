#!/usr/bin/env bash
# Builds and runs the whole test suite: the normal build, then the unit tests under
# AddressSanitizer + UndefinedBehaviorSanitizer and under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
run_build() {  # dir, build type, targets ("all" or a list), ctest arguments
  local dir=$1 type=$2 targets=$3 start=$SECONDS
  shift 3
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE="$type" > "$dir.configure.log" 2>&1 || { cat "$dir.configure.log"; exit 1; }
  # shellcheck disable=SC2086  # the targets are words
  cmake --build "$dir" -j"$jobs" --target $targets
  echo "test: $dir built in $((SECONDS - start)) s"
  (cd "$dir" && ctest --output-on-failure -j"$jobs" "$@")
  echo "test: $dir built and tested in $((SECONDS - start)) s"
}
run_build build RelWithDebInfo all
bash tools/demo.sh  # the main job; its page metafiles also seed the fuzzing below
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$PWD/tools/lsan.supp
# The unit tests; the runs of real LibreOffice stay in the normal build, so the programs
# and tools are not built here.
run_build build-asan Asan "lumi_tests lumi_pdf_tests lumi_qt_tests lumi_ui_tests lumi_office_tests" -LE "office|program"
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/tools/tsan.supp"
run_build build-tsan Tsan "lumi_tests lumi_ui_tests" -L threads
# Fuzz targets (clang, libFuzzer, AddressSanitizer), each for a bounded time.
FUZZ_SECONDS=${FUZZ_SECONDS:-20} bash fuzz/run.sh
