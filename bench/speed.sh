#!/usr/bin/env bash
# Speed on the corpus, all in one run on this machine:
# - ours: the PNG edition and the EMF edition, "ThreadsCount" 2, one run over all documents;
# - the peer at equal parallelism: two `soffice --headless --convert-to pdf` processes over
#   half of the documents each, then `pdftoppm -r 96 -png` two at a time;
# - the PDF step alone (the peer's first half), which every LibreOffice route pays.
# Prints each round, then the medians of: ours / peer in pages per second, our time / the
# PDF step's time, and the EMF edition / the PNG edition in pages per second; and the peak
# memory of one word-processor instance during our runs.
# Usage: bench/speed.sh [build folder] [corpus folder] [rounds]
set -euo pipefail
shopt -s nullglob  # a pattern that matches nothing is no file
cd "$(dirname "$0")/.."
build=$(cd "${1:-build}" && pwd)
corpus=$(cd "${2:-../shared/corpus}" && pwd)
rounds=${3:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# One folder with every document; .doc and .docx share base names, so the links carry both.
mkdir -p "$work/in" "$work/half1" "$work/half2"
n=0
for f in "$corpus"/*.doc "$corpus"/*.docx; do
  ext=${f##*.}; base=$(basename "$f" ".$ext")
  ln -s "$f" "$work/in/$base-$ext.$ext"
  n=$((n + 1))
  if [ $((n % 2)) = 1 ]; then ln -s "$f" "$work/half1/$base-$ext.$ext"; else ln -s "$f" "$work/half2/$base-$ext.$ext"; fi
done
if [ "$n" -eq 0 ]; then
  echo "speed: no .doc or .docx documents in $corpus" >&2
  exit 2
fi
now() { date +%s.%N; }
secs() { echo "$2 - $1" | bc -l; }

ours() {  # edition program; prints the page files written
  rm -rf "$work/ours"
  "$build/bin/$1" "-P:PureConsole=1,Source=$work/in/*.doc?,Target=$work/ours/,ThreadsCount=2" >/dev/null 2>&1 &
  echo $! > "$work/ourpid"
  wait $! || true  # a failed document still leaves the others' pages to count
  find "$work/ours" \( -name '*.png' -o -name '*.emf' \) 2>/dev/null | wc -l
}

pdf_step() {
  rm -rf "$work/peer"
  mkdir -p "$work/peer/1" "$work/peer/2"
  for h in 1 2; do
    local docs=("$work/half$h"/*)
    [ ${#docs[@]} -gt 0 ] || continue  # one document: the second half is empty
    soffice -env:UserInstallation="file://$work/peer-profile-$h" --headless --convert-to pdf \
      --outdir "$work/peer/$h" "${docs[@]}" >/dev/null 2>&1 &
  done
  wait
}

render_step() {  # pdftoppm two at a time; prints the pages
  find "$work/peer" -name '*.pdf' -print0 | xargs -0 -P 2 -I{} sh -c 'pdftoppm -r 96 -png "$1" "${1%.pdf}"' _ {}
  find "$work/peer" -name '*.png' | wc -l
}

# The peak resident memory of any single office process started by our program, sampled.
sample_peak() {
  local peak=0
  while [ -f "$work/sampling" ]; do
    local ours
    ours=$(cat "$work/ourpid" 2>/dev/null || echo 0)
    for pid in $(pgrep -x soffice.bin || true); do
      # an office of ours has our program among its ancestors
      p=$pid
      while [ "${p:-0}" -gt 1 ] && [ "$p" != "$ours" ]; do p=$(awk '/^PPid:/ {print $2}' "/proc/$p/status" 2>/dev/null || echo 0); done
      [ "$p" = "$ours" ] || continue
      kb=$(awk '/VmHWM/ {print $2}' "/proc/$pid/status" 2>/dev/null || echo 0)
      [ "${kb:-0}" -gt "$peak" ] && peak=$kb
    done
    sleep 0.1
  done
  echo "$peak" > "$work/peak"
}

median() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

pdf_step; render_step >/dev/null  # warm-up: the peer's profiles and the file cache
ours batchpng >/dev/null
peak=0; r_peer=(); r_pdf=(); r_emf=()
for r in $(seq "$rounds"); do
  touch "$work/sampling"; sample_peak & sampler=$!
  t0=$(now); n_png=$(ours batchpng); t1=$(now); n_emf=$(ours batchemf); t2=$(now)
  rm -f "$work/sampling"; wait $sampler
  p=$(cat "$work/peak"); [ "$p" -gt "$peak" ] && peak=$p
  t3=$(now); pdf_step; t4=$(now); n_peer=$(render_step); t5=$(now)
  for pair in "PNG edition:$n_png" "EMF edition:$n_emf" "peer:$n_peer"; do
    if [ "${pair##*:}" -eq 0 ]; then
      echo "speed: the ${pair%:*} wrote no page; run it on the corpus by hand to see why" >&2
      exit 1
    fi
  done
  png=$(secs "$t0" "$t1"); emf=$(secs "$t1" "$t2"); pdf=$(secs "$t3" "$t4"); peer=$(secs "$t3" "$t5")
  r_peer+=("$(echo "($n_png / $png) / ($n_peer / $peer)" | bc -l)")
  r_pdf+=("$(echo "$png / $pdf" | bc -l)")
  r_emf+=("$(echo "($n_emf / $emf) / ($n_png / $png)" | bc -l)")
  printf 'round %d: PNG edition %d pages in %.2f s (%.2f pages/s); EMF edition %d pages in %.2f s (%.2f pages/s);\n' \
    "$r" "$n_png" "$png" "$(echo "$n_png / $png" | bc -l)" "$n_emf" "$emf" "$(echo "$n_emf / $emf" | bc -l)"
  printf '         peer %d pages in %.2f s (%.2f pages/s), of which the PDF step %.2f s\n' \
    "$n_peer" "$peer" "$(echo "$n_peer / $peer" | bc -l)" "$pdf"
done
printf 'median ratio, PNG edition / peer, pages per second: %.2f (goal at least 1.5)\n' "$(median "${r_peer[@]}")"
printf 'median ratio, PNG edition time / PDF step time: %.2f (goal at most 1.8)\n' "$(median "${r_pdf[@]}")"
printf 'median ratio, EMF edition / PNG edition, pages per second: %.2f (goal at least 1.0)\n' "$(median "${r_emf[@]}")"
printf 'peak memory of one word-processor instance: %d MiB (goal under 400)\n' "$((peak / 1024))"
