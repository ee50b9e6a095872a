#!/usr/bin/env bash
# Installs the build and run dependencies that are missing (Debian 12, as root).
set -euo pipefail
pkgs=(cmake g++ make qt6-base-dev qt6-svg-dev libgtest-dev libcairo2-dev libfontconfig-dev libharfbuzz-dev libfribidi-dev libpng-dev
      libcurl4-gnutls-dev
      libreoffice-writer libreoffice-draw libreoffice-dev fonts-liberation2 fonts-dejavu
      poppler-utils xvfb xdotool bc clang clang-tidy clang-format libclang-rt-14-dev man-db libjpeg62-turbo-dev emf2svg
      fonts-urw-base35 fonts-crosextra-carlito fonts-crosextra-caladea fonts-noto-color-emoji)
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
