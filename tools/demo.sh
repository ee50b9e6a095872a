#!/usr/bin/env bash
# The main job on sample documents the project makes itself: a sample written here is
# turned into .docx and .doc by LibreOffice, then both editions convert them in
# console runs. The page images end up in build/demo/png and build/demo/emf.
set -euo pipefail
cd "$(dirname "$0")/.."
demo=build/demo
rm -rf "$demo"
mkdir -p "$demo/in"
profile="file://$PWD/$demo/profile"
soffice -env:UserInstallation="$profile" --headless --convert-to 'docx:MS Word 2007 XML' --outdir "$demo/in" tools/samples/sample.html >/dev/null 2>&1
mv "$demo/in/sample.docx" "$demo/in/sample-docx.docx"
soffice -env:UserInstallation="$profile" --headless --convert-to 'doc:MS Word 97' --outdir "$demo/in" tools/samples/sample.html >/dev/null 2>&1
rm -rf "$demo/profile"
in=$PWD/$demo/in
./build/bin/batchpng "-P:PureConsole=1,Source=$in/*.doc?,Target=$PWD/$demo/png/,ThreadsCount=2,LogFile=$PWD/$demo/png.log"
./build/bin/batchemf "-P:PureConsole=1,Source=$in/*.doc?,Target=$PWD/$demo/emf/,ThreadsCount=2,LogFile=$PWD/$demo/emf.log"
echo "Run logs:"
cat "$demo/png.log" "$demo/emf.log"
echo "Page images: $demo/png/ ($(ls "$demo/png" | wc -l) PNG files) and $demo/emf/ ($(ls "$demo/emf" | wc -l) EMF files)"
