#!/usr/bin/env bash
# Runs a command under an X server of its own (Xvfb), where xdotool's clicks and keys
# reach the windows as a person's would, and stops the server afterwards. Exits 77
# (ctest: skipped) with the reason where no such server can be had.
# Usage: xvfb_run.sh COMMAND [ARGUMENT...]
set -u
for tool in Xvfb xdotool; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is not installed (tools/setup.sh installs it)"
    exit 77
  fi
done
work=$(mktemp -d)
xvfb=
cleanup() {
  if [ -n "$xvfb" ]; then
    kill "$xvfb" 2>/dev/null
    wait "$xvfb" 2>/dev/null
  fi
  rm -rf "$work"
}
trap cleanup EXIT
# Xvfb picks a free display itself and writes its number once it takes connections.
Xvfb -displayfd 3 -screen 0 1600x1000x24 -dpi 96 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
for _ in $(seq 100); do
  grep -q . "$work/display" 2>/dev/null && break
  kill -0 "$xvfb" 2>/dev/null || break
  sleep 0.1
done
display=$(head -1 "$work/display" 2>/dev/null)
if [ -z "$display" ]; then
  echo "SKIP: Xvfb did not start: $(tail -1 "$work/xvfb.log")"
  exit 77
fi
# The windows see a desktop of their own: no user settings, no desktop theme.
mkdir -p "$work/home"
DISPLAY=":$display" QT_QPA_PLATFORM=xcb HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" \
  QT_QPA_PLATFORMTHEME= "$@"
