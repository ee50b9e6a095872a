#!/usr/bin/env bash
# Installs the build and run dependencies that are missing (Debian 12, as root).
set -euo pipefail
# Documents as Word users write them need LibreOffice's formula module (equations print
# blank without it), the faces metric-compatible with Word's (Carlito for Calibri,
# Caladea for Cambria, Liberation for Arial, Times New Roman and Courier New), the bold
# and italic faces of the default fonts (DejaVu's are in fonts-dejavu-extra), Ghostscript's
# URW faces that LibreOffice puts in for other Word fonts, Noto for other scripts (CJK too)
# and colour emoji. Noto Sans becomes the machine's sans-serif; the office still lays
# Verdana and Tahoma out in DejaVu Sans, the face nearest their widths.
# poppler's own classes read Writer's PDF in-process. nlohmann-json writes the JSON
# report; libnss-wrapper gives the office of an account without a passwd entry one;
# jq, slurm-wlm and munge are for the tests of shares on a real scheduler; Inkscape and
# emf2svg for the tests of metafiles in other readers.
pkgs=(cmake g++ make qt6-base-dev qt6-svg-dev libgtest-dev libcairo2-dev libfontconfig-dev libharfbuzz-dev libfribidi-dev
      libpng-dev libcurl4-gnutls-dev libpoppler-private-dev
      libreoffice-writer libreoffice-draw libreoffice-math libreoffice-dev
      fonts-liberation2 fonts-crosextra-carlito fonts-crosextra-caladea fonts-dejavu fonts-dejavu-extra
      fonts-urw-base35 fonts-noto-core fonts-noto-cjk fonts-noto-color-emoji
      poppler-utils xvfb xdotool bc clang clang-tidy clang-format libclang-rt-14-dev man-db libjpeg62-turbo-dev emf2svg
      nlohmann-json3-dev libnss-wrapper jq slurm-wlm munge inkscape)
pkgs+=(lintian)  # Debian's package checker, for the package test
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
