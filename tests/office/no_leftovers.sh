#!/usr/bin/env bash
# Runs the office tests with a temporary folder of their own, then checks that no
# office process, folder or pipe socket of theirs is left behind. Offices of other
# programs on the machine are not looked at.
set -u
own=$(mktemp -d)
trap 'rm -rf "$own"' EXIT
export TMPDIR="$own"
unset XDG_RUNTIME_DIR
# The test program keeps the id of this shell, which names its pipes.
sh -c 'echo $$ > "$0"; exec "$@"' "$own/pid" "$@"
rc=$?
pid=$(cat "$own/pid")
sleep 0.5
left=$(pgrep -f "soffice.bin.*UserInstallation=file://$own/" || true)
dirs=$(ls -d "$own"/lumipix-office-* 2>/dev/null || true)
sockets=$(ls -d /tmp/OSL_PIPE_*_lumipix-"$pid"-* /var/tmp/OSL_PIPE_*_lumipix-"$pid"-* 2>/dev/null || true)
if [ -n "$left" ] || [ -n "$dirs" ] || [ -n "$sockets" ]; then
  echo "left behind: processes [$left] folders [$dirs] sockets [$sockets]"
  [ -z "$left" ] || kill -9 $left
  exit 1
fi
exit $rc
