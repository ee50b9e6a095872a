#!/usr/bin/env bash
# Runs the office tests, then checks that no office process and no profile folder
# of theirs is left behind.
set -u
"$@"
rc=$?
sleep 0.5
left=$(pgrep -f 'soffice.bin.*lumipix-' || true)
dirs=$(ls -d "${TMPDIR:-/tmp}"/lumipix-office-* 2>/dev/null || true)
if [ -n "$left" ] || [ -n "$dirs" ]; then
  echo "left behind: processes [$left] folders [$dirs]"
  pkill -9 -f 'soffice.bin.*lumipix-' || true
  exit 1
fi
exit $rc
