#!/usr/bin/env bash
# Lists, for each folder of src/, the folders its files include, and fails when one
# includes a folder that is not below it (docs/design.md gives the order).
set -euo pipefail
cd "$(dirname "$0")/../src"
declare -A below=(
  [platform]=""
  [emf]="platform"
  [pngmodule]="emf platform"
  [pdf]="emf platform"
  [office]="pdf emf platform"
  [core]="platform"
  [engine]="core platform"
  [convert]="engine core emf platform"
  [console]="engine core platform"
  [ui]="engine core emf platform"
  [app]="console convert ui office pdf engine core emf platform"
)
status=0
for dir in */; do
  dir=${dir%/}
  used=$(grep -ho '^#include "[a-z]*/' "$dir"/*.h "$dir"/*.cpp 2>/dev/null | sed 's/#include "//; s#/##' | sort -u |
         grep -vx "$dir" | tr '\n' ' ' || true)
  echo "$dir: ${used:-(nothing of ours)}"
  if [ -z "${below[$dir]+set}" ]; then
    echo "  $dir is not in the layer order of tools/layers.sh"
    status=1
    continue
  fi
  for u in $used; do
    if [[ " ${below[$dir]} " != *" $u "* ]]; then
      grep -ln "^#include \"$u/" "$dir"/*.h "$dir"/*.cpp | sed "s/^/  includes $u, which is not below it: /"
      status=1
    fi
  done
done
exit $status
