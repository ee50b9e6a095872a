#!/usr/bin/env bash
# Builds the Debian package as a release is built: from the last commit's tree (exported
# by git, so nothing uncommitted goes in), in a fresh build folder, with SOURCE_DATE_EPOCH
# from that commit. Leaves the package in build-deb/ and prints its path.
#   bash tools/package.sh            one package
#   bash tools/package.sh --twice    also builds it again in a second folder (another name,
#                                    another length) and fails unless both packages are
#                                    byte-identical: the build is reproducible
# The builds bypass ccache, so each compiles for itself.
set -euo pipefail
cd "$(dirname "$0")/.."
twice=0
[ "${1:-}" = --twice ] && twice=1
out=$PWD/build-deb
rm -rf "$out"
mkdir -p "$out"
git archive --format=tar --prefix=source/ HEAD | tar -x -C "$out"
export SOURCE_DATE_EPOCH
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct HEAD)
export CCACHE_DISABLE=1
unset CMAKE_CXX_COMPILER_LAUNCHER
package() {  # build folder; prints the package's path
  local dir=$1
  { cmake -S "$out/source" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMI_TESTS=OFF &&
    cmake --build "$dir" -j"$(nproc)" --target batchpng pngmodule helpfile manpage packagedocs &&
    (cd "$dir" && cpack -G DEB); } > "$dir.log" 2>&1 || { tail -40 "$dir.log" >&2; echo "package: build failed ($dir.log)" >&2; exit 1; }
  ls "$dir"/lumipix_*.deb
}
first=$(package "$out/build")
if [ "$twice" = 1 ]; then
  second=$(package "$out/second-build-folder")
  if cmp "$first" "$second"; then
    echo "package: reproducible: two build folders gave the same package ($(sha256sum < "$first" | cut -c1-16))"
  else
    # Say which files differ, so the cause can be found.
    for deb in "$first" "$second"; do dpkg-deb -R "$deb" "$deb.tree"; done
    diff -r "$first.tree" "$second.tree" >&2 || true
    diff <(dpkg-deb -c "$first") <(dpkg-deb -c "$second") >&2 || true
    echo "package: NOT reproducible: $first and $second differ" >&2
    exit 1
  fi
fi
cp "$first" "$out/"
echo "$out/$(basename "$first")"
