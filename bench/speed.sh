#!/usr/bin/env bash
# Speed of the PNG edition on the corpus with "ThreadsCount" 2, against
# `soffice --headless --convert-to pdf` (one process for all documents) followed by
# `pdftoppm -r 96 -png` for each PDF, timed in the same run on this machine.
# Also reports the peak memory of one word-processor instance during our run.
# Usage: bench/speed.sh [build folder] [corpus folder] [rounds]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build}" && pwd)
corpus=$(cd "${2:-../shared/corpus}" && pwd)
rounds=${3:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/in-doc" "$work/in-docx"
for f in "$corpus"/*.doc; do ln -s "$f" "$work/in-doc/"; done
for f in "$corpus"/*.docx; do ln -s "$f" "$work/in-docx/"; done
now() { date +%s.%N; }

ours() {
  rm -rf "$work/ours"
  for ext in doc docx; do
    "$build/bin/batchpng" "-P:PureConsole=1,Source=$work/in-$ext/*.$ext,Target=$work/ours/$ext/,ThreadsCount=2" >/dev/null
  done
  find "$work/ours" -name '*.png' | wc -l
}

peer() {
  rm -rf "$work/peer"
  mkdir -p "$work/peer"
  for ext in doc docx; do
    mkdir -p "$work/peer/$ext"
    soffice -env:UserInstallation="file://$work/peer-profile" --headless --convert-to pdf --outdir "$work/peer/$ext" \
      "$work/in-$ext"/*."$ext" >/dev/null 2>&1 || true
    for p in "$work/peer/$ext"/*.pdf; do pdftoppm -r 96 -png "$p" "${p%.pdf}"; done
  done
  find "$work/peer" -name '*.png' | wc -l
}

# The peak resident memory of any single office process of ours, sampled.
sample_peak() {
  local peak=0
  while [ -f "$work/sampling" ]; do
    for pid in $(pgrep -f 'soffice.bin.*lumipix-' || true); do
      kb=$(awk '/VmHWM/ {print $2}' "/proc/$pid/status" 2>/dev/null || echo 0)
      [ "${kb:-0}" -gt "$peak" ] && peak=$kb
    done
    sleep 0.1
  done
  echo "$peak" > "$work/peak"
}

peer >/dev/null  # warm-up: the peer's profile and the file cache
ours >/dev/null
best_ours=999999; best_peer=999999; ratios=()
for r in $(seq "$rounds"); do
  touch "$work/sampling"; sample_peak & sampler=$!
  t0=$(now); n_ours=$(ours); t1=$(now)
  rm -f "$work/sampling"; wait $sampler
  t2=$(now); n_peer=$(peer); t3=$(now)
  a=$(echo "$t1 - $t0" | bc -l); b=$(echo "$t3 - $t2" | bc -l)
  ratios+=("$(echo "($n_ours / $a) / ($n_peer / $b)" | bc -l)")
  printf 'round %d: ours %d pages in %.2f s (%.2f pages/s), peer %d pages in %.2f s (%.2f pages/s), ratio %.2f\n' \
    "$r" "$n_ours" "$a" "$(echo "$n_ours / $a" | bc -l)" "$n_peer" "$b" "$(echo "$n_peer / $b" | bc -l)" "${ratios[-1]}"
done
median=$(printf '%s\n' "${ratios[@]}" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')
printf 'median ratio (ours / peer, pages per second): %.2f\n' "$median"
printf 'peak memory of one word-processor instance: %d MiB\n' "$(( $(cat "$work/peak") / 1024 ))"
