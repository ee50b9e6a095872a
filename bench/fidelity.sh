#!/usr/bin/env bash
# Fidelity of the PNG edition on the corpus: each page against poppler's rendering
# (pdftoppm -r 96) of LibreOffice's own PDF of the same document.
# Usage: bench/fidelity.sh [build folder] [corpus folder]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
corpus=$(cd "${2:-../shared/corpus}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for ext in doc docx; do  # the two extensions share base names: separate targets
  mkdir -p "$work/in-$ext" "$work/ours-$ext" "$work/pdf-$ext" "$work/ref-$ext"
  for f in "$corpus"/*."$ext"; do ln -s "$f" "$work/in-$ext/"; done
  "$build/bin/batchpng" "-P:PureConsole=1,Source=$work/in-$ext/*.$ext,Target=$work/ours-$ext/,ThreadsCount=2" >/dev/null
  soffice -env:UserInstallation="file://$work/profile" --headless --convert-to pdf --outdir "$work/pdf-$ext" "$work/in-$ext"/*."$ext" >/dev/null 2>&1 || true
  for p in "$work/pdf-$ext"/*.pdf; do pdftoppm -r 96 -png "$p" "$work/ref-$ext/$(basename "$p" .pdf)"; done
done
pairs=()
for ext in doc docx; do
  for ref in "$work/ref-$ext"/*.png; do
    base=$(basename "$ref" .png)            # name-N or name-0N, as pdftoppm pads
    name=${base%-*}; num=$((10#${base##*-}))
    ours=$(printf '%s/ours-%s/%s-%02d.png' "$work" "$ext" "$name" "$num")
    [ -f "$ours" ] && pairs+=("$ours" "$ref") || echo "missing: $ours"
  done
done
"$build/bin/fidelity" "${pairs[@]}" | sed "s|$work/||g" | sort -n | tee "${FIDELITY_LOG:-/dev/null}" | tail -15
