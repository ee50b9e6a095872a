#!/usr/bin/env bash
# Fidelity of the PNG edition on the corpus: each page against poppler's rendering
# (pdftoppm -r 96) of LibreOffice's own PDF of the same document, pages of equal size
# (a page of another size counts as SSIM 0). SSIM on the pixels as they are (the goal:
# mean at least 0.995, no page under 0.97), then the summary box-downscaled by 4.
# Usage: bench/fidelity.sh [build folder] [corpus folder] [options of the fidelity program]
set -euo pipefail
shopt -s nullglob  # a pattern that matches nothing is no file
cd "$(dirname "$0")/.."
build=${1:-build}
corpus=$(cd "${2:-../shared/corpus}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The reference office sees the fonts as the program's offices do: Verdana and Tahoma in
# DejaVu Sans (the office process's own font configuration), else their pages can differ.
cat > "$work/fonts.conf" <<EOF
<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "urn:fontconfig:fonts.dtd">
<fontconfig>
  <include ignore_missing="yes">${FONTCONFIG_FILE:-/etc/fonts/fonts.conf}</include>
  <alias binding="same"><family>Verdana</family><accept><family>DejaVu Sans</family></accept></alias>
  <alias binding="same"><family>Tahoma</family><accept><family>DejaVu Sans</family></accept></alias>
</fontconfig>
EOF
for ext in doc docx; do  # the two extensions share base names: separate targets
  mkdir -p "$work/in-$ext" "$work/ours-$ext" "$work/pdf-$ext" "$work/ref-$ext"
  docs=("$corpus"/*."$ext")
  [ ${#docs[@]} -gt 0 ] || continue  # soffice without a document would not end
  for f in "${docs[@]}"; do ln -s "$f" "$work/in-$ext/"; done
  "$build/bin/batchpng" "-P:PureConsole=1,Source=$work/in-$ext/*.$ext,Target=$work/ours-$ext/,ThreadsCount=2" >/dev/null 2>&1
  FONTCONFIG_FILE="$work/fonts.conf" soffice -env:UserInstallation="file://$work/profile" --headless --convert-to pdf --outdir "$work/pdf-$ext" "$work/in-$ext"/*."$ext" >/dev/null 2>&1 || true
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
if [ ${#pairs[@]} -eq 0 ]; then
  echo "fidelity: no page to compare (no .doc or .docx in $corpus, or no page made)" >&2
  exit 1
fi
"$build/bin/fidelity" --scale 1 "${@:3}" "${pairs[@]}" | sed "s|$work/||g" > "$work/result.txt" || true
cp "$work/result.txt" "${FIDELITY_LOG:-/dev/null}"
echo "the ten lowest pages:"
{ grep '^[0-9]' "$work/result.txt" || true; } | sort -n | sed -n 1,10p
grep -v '^[0-9]' "$work/result.txt" || true
echo "box-downscaled by 4:"
"$build/bin/fidelity" --scale 4 "${@:3}" "${pairs[@]}" | tail -1 || true
