#!/usr/bin/env bash
# Runs clang-tidy with .clang-tidy (and the folders' own) over every source file of
# src/ in a build's compile database, prints what it finds and exits 1 when it finds
# anything.
#   bash tools/lint.sh [build folder]      (default: build; LINT_JOBS=n for fewer jobs)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
if [ ! -f "$build/compile_commands.json" ]; then
  echo "lint: no $build/compile_commands.json; configure first: cmake -S . -B $build" >&2
  exit 2
fi
# The office's sources need the generated UNO headers.
cmake --build "$build" --target unoheaders > /dev/null
tidy=$(command -v clang-tidy || command -v clang-tidy-14)
out=$(mktemp)
trap 'rm -f "$out"' EXIT
run-clang-tidy -p "$build" -clang-tidy-binary "$tidy" -j "${LINT_JOBS:-$(nproc)}" -quiet "$PWD/src/.*\.cpp$" 2>&1 |
  sed 's/\x1b\[[0-9;]*m//g' > "$out" || true
# The findings with their notes and source lines, without clang-tidy's own chatter.
grep -v -e "^$tidy " -e 'warnings\? generated' -e '^Suppressed ' -e '^Use -header-filter' -e '^Running ' \
  -e '^Enabled checks' "$out" || true
found=$(grep -c -e ': error: ' -e ': warning: ' "$out" || true)
echo "lint: $found findings"
[ "$found" -eq 0 ]
