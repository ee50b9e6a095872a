#!/usr/bin/env bash
# Pictures of the windows at 96 dots per inch, at scale 1 and at scale 2
# (QT_SCALE_FACTOR=2, as on a high-density screen): the program runs under Xvfb with
# a project over sample documents it makes itself; xdotool presses the buttons.
# Saves build/screens/{main,about,running,run,preview,config}.png and the same with
# "-2x" for scale 2, and copies them to docs/screens/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD/build/screens
rm -rf "$root"
mkdir -p "$root/in/sub"
profile="file://$root/profile"
# Enough documents for a run that lasts a while on one converter thread.
for name in report letter minutes notes offer plan; do
  cp tools/samples/sample.html "$root/$name.html"
  soffice -env:UserInstallation="$profile" --headless --convert-to 'docx:MS Word 2007 XML' --outdir "$root/in" \
    "$root/$name.html" >/dev/null 2>&1
done
soffice -env:UserInstallation="$profile" --headless --convert-to 'doc:MS Word 97' --outdir "$root/in/sub" \
  "$root/report.html" >/dev/null 2>&1
printf 'not a document' >"$root/in/damaged.doc"
rm -rf "$root/profile" "$root"/*.html

# A recording opener: links, folders and pages are never really opened.
mkdir -p "$root/bin" "$root/home"
printf '#!/bin/sh\necho "$1" >>"%s/opened.txt"\n' "$root" >"$root/bin/xdg-open"
chmod +x "$root/bin/xdg-open"

xvfb=
app=
cleanup() {
  [ -n "$app" ] && kill "$app" 2>/dev/null || true
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
  app=
  xvfb=
}
trap cleanup EXIT

# One round of pictures at `scale`; names end in `suffix`.
shoot() {
  local scale=$1 suffix=$2
  local out="$root/out$suffix"
  local project="$root/screens$suffix.batch-lumipix"
  printf 'Source=%s\r\nSubdir=True\r\nTarget=%s/\r\nThreadsCount=1\r\n' "$root/in/*.doc?" "$out" >"$project"
  local display=:$((90 + RANDOM % 100))
  Xvfb "$display" -screen 0 $((1280 * scale))x$((720 * scale))x24 -dpi 96 -nolisten tcp >/dev/null 2>&1 &
  xvfb=$!
  export DISPLAY=$display
  for _ in $(seq 50); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.1; done
  # A home of its own: no remembered window or folders of the user's, and none left for them.
  rm -rf "$root/home/.config"
  PATH="$root/bin:$PATH" HOME="$root/home" XDG_CONFIG_HOME="$root/home/.config" QT_SCALE_FACTOR=$scale \
    ./build/bin/batchpng "$project" &
  app=$!
  local main
  main=$(xdotool search --sync --onlyvisible --name 'Lumipix Converter' | tail -1)
  sleep 1
  # Places in the window's own units (it opens 1200 x 600 wide); the screen has `scale`
  # pixels for each. Buttons with a key are pressed by it.
  key() { xdotool windowfocus --sync "$main" key --clearmodifiers "$1"; sleep "${2:-0.5}"; }
  click() { xdotool mousemove --window "$main" $(($1 * scale)) $(($2 * scale)) click 1; sleep "${3:-0.5}"; }
  snap() { ./build/bin/lumi_snap "$root/$1$suffix.png" "$2"; echo "saved $root/$1$suffix.png"; }
  pages() { find "$out" -name '*.png' 2>/dev/null | wc -l; }

  click 1150 54 1.5    # Search
  snap main "$main"
  click 728 16 1       # About
  local about
  about=$(xdotool search --onlyvisible --name '^About$' | tail -1)
  snap about "$about"
  xdotool mousemove --window "$about" $((300 * scale)) $((160 * scale)) click 1  # any click closes it
  sleep 0.5
  click 1150 83 0.2    # Convert
  # During the run: once a few pages are written, while documents are still waiting.
  for _ in $(seq 150); do [ "$(pages)" -ge 4 ] && break; sleep 0.2; done
  sleep 0.6
  snap running "$main"
  # Done when the page images stop coming.
  local last=-1 n
  for _ in $(seq 120); do
    n=$(pages)
    [ "$n" -gt 0 ] && [ "$n" = "$last" ] && break
    last=$n
    sleep 2
  done
  sleep 1
  click 200 146 0.3    # the first row
  snap run "$main"
  key Return 1         # its pages in the preview
  local preview
  preview=$(xdotool search --sync --onlyvisible --name '^Preview - ' | tail -1)
  sleep 2
  snap preview "$preview"
  click 175 16 1       # Config
  local config
  config=$(xdotool search --onlyvisible --name '^Config$' | tail -1)
  snap config "$config"
  cleanup
}

shoot 1 ""
shoot 2 "-2x"
mkdir -p docs/screens
cp "$root"/*.png docs/screens/
echo "copied to docs/screens/"
