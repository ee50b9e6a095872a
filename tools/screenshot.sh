#!/usr/bin/env bash
# Pictures of the windows at 96 dots per inch: the program runs under Xvfb with a
# project over sample documents it makes itself; xdotool presses the buttons.
# Saves build/screens/{main,about,run,config}.png.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD/build/screens
rm -rf "$root"
mkdir -p "$root/in/sub" "$root/out"
profile="file://$root/profile"
for name in report letter; do
  cp tools/samples/sample.html "$root/$name.html"
  soffice -env:UserInstallation="$profile" --headless --convert-to 'docx:MS Word 2007 XML' --outdir "$root/in" \
    "$root/$name.html" >/dev/null 2>&1
done
soffice -env:UserInstallation="$profile" --headless --convert-to 'doc:MS Word 97' --outdir "$root/in/sub" \
  "$root/report.html" >/dev/null 2>&1
printf 'not a document' >"$root/in/damaged.doc"
rm -rf "$root/profile" "$root"/*.html
project="$root/screens.batch-lumipix"
printf 'Source=%s\r\nSubdir=True\r\nTarget=%s\r\nThreadsCount=2\r\n' "$root/in/*.doc?" "$root/out/" >"$project"

display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1280x720x24 -dpi 96 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
app=
cleanup() {
  [ -n "$app" ] && kill "$app" 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT
export DISPLAY=$display
for _ in $(seq 50); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.1; done

# A recording opener: links and folders are never really opened.
mkdir -p "$root/bin"
printf '#!/bin/sh\necho "$1" >>"%s/opened.txt"\n' "$root" >"$root/bin/xdg-open"
chmod +x "$root/bin/xdg-open"
PATH="$root/bin:$PATH" ./build/bin/batchpng "$project" &
app=$!
main=$(xdotool search --sync --onlyvisible --name 'Lumipix Converter' | tail -1)
sleep 1
click() { xdotool mousemove --window "$main" "$1" "$2" click 1; sleep "${3:-0.5}"; }
snap() { ./build/bin/lumi_snap "$root/$1.png" "$2"; echo "saved $root/$1.png"; }

click 748 44 1.5     # Search
snap main "$main"
click 970 12 1       # About
about=$(xdotool search --onlyvisible --name '^About$' | tail -1)
snap about "$about"
xdotool mousemove --window "$about" 300 160 click 1  # any click closes it
sleep 0.5
click 748 72         # Convert
# Done when the page images stop coming.
last=-1
for _ in $(seq 120); do
  n=$(find "$root/out" -name '*.png' | wc -l)
  [ "$n" -gt 0 ] && [ "$n" = "$last" ] && break
  last=$n
  sleep 2
done
sleep 1
snap run "$main"
click 252 12 1       # Config
config=$(xdotool search --onlyvisible --name '^Config$' | tail -1)
snap config "$config"
