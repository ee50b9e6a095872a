#!/usr/bin/env bash
# The Debian package made by "cpack -G DEB" from the build folder: its files, its
# control fields (Depends names the package of every library the program and its
# module link), the packaged program run from the unpacked tree, and Debian's checker
# (lintian: no errors, no warnings). Exits 77 (skipped) when all else passed but lintian
# is not installed (tools/setup.sh installs it).
set -u
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fails=0; passes=0
check() {  # name, condition result
  if [ "$2" = 0 ]; then passes=$((passes+1)); else fails=$((fails+1)); echo "FAIL: $1"; fi
}
(cd "$build" && cpack -G DEB -B "$work/pkg" > "$work/cpack.log" 2>&1)
check "cpack makes the package" $?
deb=$(ls "$work"/pkg/lumipix_*_amd64.deb 2>/dev/null | head -1)
if [ -z "$deb" ]; then cat "$work/cpack.log"; echo "$passes passed, $fails failed"; exit 1; fi

dpkg-deb -c "$deb" | awk '{ name = $6; if ($7 == "->") name = name " -> " $8; print substr($1, 1, 1) " " name }' > "$work/files.txt"
for entry in "- ./usr/lib/lumipix/batchpng" "l ./usr/lib/lumipix/batchemf -> batchpng" "- ./usr/lib/lumipix/batchpng.so" \
             "- ./usr/share/doc/lumipix/batchpng.pdf" "l ./usr/share/doc/lumipix/batchemf.pdf -> batchpng.pdf" \
             "- ./usr/share/doc/lumipix/copyright" "- ./usr/share/doc/lumipix/changelog.gz" \
             "- ./usr/share/doc/lumipix/README.md.gz" \
             "- ./usr/bin/batchpng" "l ./usr/bin/batchemf -> batchpng" \
             "- ./usr/share/man/man1/batchpng.1.gz" "l ./usr/share/man/man1/batchemf.1.gz -> batchpng.1.gz" \
             "- ./usr/share/applications/lumipix.desktop" "- ./usr/share/icons/hicolor/scalable/apps/lumipix.svg"; do
  check "package holds $entry" $(grep -qxF -- "$entry" "$work/files.txt"; echo $?)
done
check "nothing outside /usr" $(! grep -v '^. \./usr/' "$work/files.txt" | grep -qv '^d \./$'; echo $?)
check "the program folder holds only the program" $(! grep -q '^. \./usr/lib/lumipix/.*\.pdf' "$work/files.txt"; echo $?)
check "the programs are executable" $(dpkg-deb -c "$deb" | grep -E '\./usr/(bin|lib/lumipix)/batchpng$' | grep -c '^-rwxr-xr-x root/root' | grep -qx 2; echo $?)

field() { dpkg-deb -f "$deb" "$1"; }
check "package name" $([ "$(field Package)" = lumipix ]; echo $?)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
check "version is the project's" $([ -n "$version" ] && [ "$(field Version)" = "$version" ]; echo $?)
check "architecture" $([ "$(field Architecture)" = "$(dpkg --print-architecture)" ]; echo $?)
check "maintainer" $(field Maintainer | grep -q '@'; echo $?)
depends=$(field Depends | tr ',' '\n' | sed 's/^ *//; s/ .*//')
# Writer makes the PDFs; its PDF reader (xpdfimport) comes with libreoffice-core, which
# Writer pulls in. Draw is no longer needed to run.
check "depends on libreoffice-writer" $(grep -qx libreoffice-writer <<< "$depends"; echo $?)
check "does not need libreoffice-draw" $(! grep -qx libreoffice-draw <<< "$depends"; echo $?)
# Every library the program and its module link comes from a package named in Depends.
for f in "$build/bin/batchpng" "$build/bin/batchpng.so"; do
  for lib in $(ldd "$f" | awk '$2 == "=>" && $3 ~ /^\// { print $3 }'); do
    own=$(dpkg -S "$lib" 2>/dev/null || dpkg -S "$(readlink -f "$lib")" 2>/dev/null)
    own=$(head -1 <<< "$own" | cut -d: -f1)
    needed=$(readelf -d "$f" | grep -F "[$(basename "$lib")]")
    [ -z "$needed" ] && continue  # pulled in by another library
    check "depends on $own for $(basename "$lib")" $([ -n "$own" ] && grep -qx "$own" <<< "$depends"; echo $?)
  done
done

# The packaged program, run from the unpacked tree through its launchers.
dpkg-deb -x "$deb" "$work/root"
root="$work/root"
check "launcher runs the PNG edition" \
  $([ "$("$root/usr/bin/batchpng" --version)" = "Lumipix Converter (PNG edition) $version" ]; echo $?)
check "launcher link runs the EMF edition" \
  $([ "$("$root/usr/bin/batchemf" --version)" = "Lumimet Converter (EMF edition) $version" ]; echo $?)
"$root/usr/bin/batchpng" --help > "$work/help.txt"
check "help names the installed help file" $(grep -qF "Manual: $root/usr/share/doc/lumipix/batchpng.pdf " "$work/help.txt"; echo $?)
check "the packaged help file is a PDF of this version" \
  $(pdftotext "$root/usr/share/doc/lumipix/batchpng.pdf" - | grep -qx "Version $version"; echo $?)
# The copyright file names every font the help file embeds (their licences travel with it).
for font in $(pdffonts "$root/usr/share/doc/lumipix/batchpng.pdf" | awk 'NR > 2 && $(NF-4) == "yes" { print $1 }'); do
  family=${font#*+}; family=${family%%-*}
  check "the copyright file names the embedded font $family" \
    $(tr -d ' \n' < "$root/usr/share/doc/lumipix/copyright" | grep -qF "$family"; echo $?)
done
check "the changelog's newest release is this version" \
  $(zcat "$root/usr/share/doc/lumipix/changelog.gz" | head -1 | grep -qF "lumipix ($version) "; echo $?)

# The manual page renders without warnings and documents every option the help lists.
man_text=$(LANG=C.UTF-8 MANWIDTH=100 man --warnings -l "$root/usr/share/man/man1/batchpng.1.gz" 2> "$work/man.err")
check "the manual page renders without warnings" $([ ! -s "$work/man.err" ] && [ -n "$man_text" ]; echo $?)
check "the manual page names this version" $(grep -qF "Lumipix Converter $version" <<< "$man_text"; echo $?)
for key in $(sed -n '/^Options/,/^$/p' "$work/help.txt" | awk '/^  [A-Z]/ { print $1 }'); do
  check "the manual page documents $key" $(grep -qE "^ +$key=" <<< "$man_text"; echo $?)
done
check "the manual page shows a Slurm and a GNU parallel example" \
  $(grep -q 'SLURM_ARRAY_TASK_ID' <<< "$man_text" && grep -q '^ *parallel ' <<< "$man_text"; echo $?)

desktop="$root/usr/share/applications/lumipix.desktop"
check "the desktop entry starts the program on PATH" $(grep -qx 'Exec=batchpng %f' "$desktop"; echo $?)
check "the desktop entry's icon is packaged" \
  $(icon=$(sed -n 's/^Icon=//p' "$desktop"); [ -f "$root/usr/share/icons/hicolor/scalable/apps/$icon.svg" ]; echo $?)
if command -v desktop-file-validate > /dev/null; then
  check "the desktop entry is valid" $(desktop-file-validate "$desktop"; echo $?)
fi

# Debian's checker, on every tag it knows: overrides, if ever needed, go beside the
# package's files with the reason in a comment.
if command -v lintian > /dev/null; then
  lintian --fail-on error,warning --display-level ">=warning" "$deb" > "$work/lintian.txt" 2>&1
  status=$?
  check "lintian finds no error and no warning" $status
  [ "$status" = 0 ] || cat "$work/lintian.txt"
elif [ "$fails" = 0 ]; then
  echo "$passes passed, $fails failed"
  echo "SKIP: lintian is not installed (tools/setup.sh installs it); the package was not checked by it"
  exit 77
fi

echo "$passes passed, $fails failed"
[ "$fails" = 0 ]
