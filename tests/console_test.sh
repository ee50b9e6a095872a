#!/usr/bin/env bash
# The real program on a terminal user's command lines, without a display: help and
# version, what a console run says on standard error (progress only on a terminal,
# failed documents, the summary line), the warnings for what would do nothing, and
# the friendlier forms of the command line.
set -u
exe="$1"
source "$(dirname "$0")/testlib.sh"
need_corpus "$2"
corpus=$(cd "$2" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
has() { grep -qF -- "$2" "$1"; echo $?; }  # file, fixed text
mkdir -p "$work/app" "$work/fakebin"
cp "$exe" "$work/app/batchpng"
cp "$(dirname "$exe")/batchpng.so" "$work/app/batchpng.so"
app="$work/app/batchpng"
printf '#!/bin/sh\nprintf "%%s\\n" "$1" >> "%s/opened.txt"\n' "$work" > "$work/fakebin/xdg-open"
chmod +x "$work/fakebin/xdg-open"
export PATH="$work/fakebin:$PATH"
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
touch "$work/opened.txt"

# --- Help and version: nothing opened, even with a console job as the default project.
mkdir -p "$work/in-default"
printf 'PureConsole=1\r\nSource=%s/in-default/*.doc?\r\nTarget=%s/out-default/\r\n' "$work" "$work" > "$app.batch-lumipix"
for arg in --help -h -?; do
  "$app" "$arg" > "$work/help.txt" 2> "$work/help.err"
  check "$arg exits 0" $?
  check "$arg says nothing on stderr" $([ ! -s "$work/help.err" ]; echo $?)
  check "$arg shows the forms" $(has "$work/help.txt" 'batchpng "-P:Key=Value,Key=Value..."')
  for key in Source Target Subdir ThreadsCount IsOverwrite KeepTargetSubdirs KeepFileTime DeleteSource RenameSource \
             MacroEnabled RegExt SkipHidden AppVisible ReadOnly SkipPassword Pages Dpi Width Color Shard LogFile \
             RunAndClose PureConsole Daemon; do
    grep -q "^  $key  *[^ ]" "$work/help.txt" || { check "$arg lists $key" 1; }
  done
  check "$arg shows the Dpi default" $(grep -q '^  Dpi  *96 ' "$work/help.txt"; echo $?)
  check "$arg names the manual" $(has "$work/help.txt" "$work/app/batchpng.pdf")
  check "$arg names the manual page" $(has "$work/help.txt" 'man batchpng')
  check "$arg gives two examples" $([ "$(sed -n '/^Examples:/,/^$/p' "$work/help.txt" | grep -c '^  batchpng "-P:')" = 2 ]; echo $?)
done
check "help ran no job" $([ ! -e "$work/out-default" ]; echo $?)
"$app" --version > "$work/version.txt" 2>&1
check "--version exits 0" $?
check "--version names product, edition and version" \
  $([ "$(cat "$work/version.txt")" = "Lumipix Converter (PNG edition) 2022.14.611.2864" ]; echo $?)
ln -s batchpng "$work/app/batchemf"
check "--version of the EMF edition" $("$work/app/batchemf" --version | grep -qx 'Lumimet Converter (EMF edition) 2022.14.611.2864'; echo $?)
"$app" --colour=always > "$work/bad.out" 2> "$work/bad.err"
check "an unknown -- option exits 2" $([ $? = 2 ]; echo $?)
check "and names it on stderr" $(has "$work/bad.err" "unknown option --colour=always")
check "and prints nothing on stdout" $([ ! -s "$work/bad.out" ]; echo $?)
check "help, version and errors opened no link" $([ ! -s "$work/opened.txt" ]; echo $?)
rm -f "$app.batch-lumipix" "$work/app/batchemf"

# --- A run with a failure and a skip: failed documents, then the summary; no progress
# when stderr is not a terminal.
mkdir -p "$work/in" "$work/out"
ln -s "$corpus/test01.docx" "$work/in/test01.docx"
ln -s "$corpus/test07.docx" "$work/in/test07.docx"
ln -s "$corpus/test02.doc" "$work/in/test02.doc"
ln -s "$corpus/badfile-01-bad-header.doc" "$work/in/badfile-01-bad-header.doc"
echo old > "$work/out/test02-01.png"
"$app" "-P:PureConsole=1,Source=$work/in/*.doc?,Target=$work/out/,IsOverwrite=skip,LogFile=$work/run.log" \
  > "$work/run.out" 2> "$work/run.err"
check "run with a failure exits 0" $?
check "the summary line has the run's numbers" \
  $(tail -1 "$work/run.err" | grep -qE '^Lumipix Converter: 4 documents: 2 converted, 1 failed, 1 skipped; 4 pages in [0-9]+\.[0-9] s$'; echo $?)
check "the failed document is listed before it with its message" \
  $([ "$(tail -2 "$work/run.err" | head -1)" = "failed: $work/in/badfile-01-bad-header.doc: The file is damaged or is not a supported document" ]; echo $?)
check "no progress when stderr is not a terminal" $(! grep -q $'\r' "$work/run.err"; echo $?)
check "nothing on stdout" $([ ! -s "$work/run.out" ]; echo $?)
check "the run log is as before" $([ "$(grep -c ' => ' "$work/run.log")" = 4 ]; echo $?)
check "the skipped page stays" $([ "$(cat "$work/out/test02-01.png")" = old ]; echo $?)

# --- Progress under a terminal: the line rewrites itself and ends before the summary.
script -qec "stty cols 60; '$app' '-P:PureConsole=1,Source=$work/in/test0*.docx,Target=$work/out-tty/'" /dev/null \
  > "$work/tty.txt" 2>&1
check "a terminal run exits 0" $?
check "progress line on a terminal" $(grep -q $'\r''[0-9]*/[0-9]* documents.*pages/s' "$work/tty.txt"; echo $?)
check "progress counts up to the total" $(grep -q '2/2 documents, 0 failed' "$work/tty.txt"; echo $?)
check "progress fits the terminal" \
  $(tr '\r' '\n' < "$work/tty.txt" | grep 'pages/s' | awk '{ if (length($0) > 59) bad=1 } END { exit bad }'; echo $?)
check "the summary follows on a terminal" \
  $(tr '\r' '\n' < "$work/tty.txt" | grep -q '^Lumipix Converter: 2 documents: 2 converted, 0 failed, 0 skipped; 4 pages'; echo $?)

# --- Warnings, each one line before the run; the run goes on as before. What the run
# needs and cannot have stops it before the first document.
mkdir -p "$work/empty"
"$app" "-P:PureConsole=1,Source=$work/nosuch/*.doc?,Target=$work/o1/" 2> "$work/w1.err"
check "a missing source folder exits 1" $([ $? = 1 ]; echo $?)
check "a missing source folder is named" $(has "$work/w1.err" "Lumipix Converter: the source folder $work/nosuch/ does not exist")
check "and nothing is made for the run" $([ ! -e "$work/o1" ]; echo $?)
"$app" "-P:PureConsole=1,Source=$work/empty/*.doc?,Target=$work/o2/" 2> "$work/w2.err"
check "a source without documents is named" \
  $(has "$work/w2.err" "Lumipix Converter: warning: no document matches $work/empty/*.doc?; Subdir=1 also searches its sub-folders")
"$app" "-P:PureConsole=1,Source=$work/empty/*.doc?,Target=$work/o3/,Sourse=/x,ThreadsCount=two" 2> "$work/w3.err"
check "a mistyped key is named with the nearest key" \
  $(has "$work/w3.err" 'Lumipix Converter: warning: unknown option "Sourse" (did you mean "Source"?); it is ignored')
check "an unreadable value is named" \
  $(has "$work/w3.err" 'Lumipix Converter: warning: ThreadsCount=two is not a whole number; the default 1 is used')
check "warnings come before the summary" $(tail -1 "$work/w3.err" | grep -q '^Lumipix Converter: 0 documents'; echo $?)
"$app" "-P:PureConsole=1,Source=$work/in/test01.docx,Target=$work/o4/,LogFile=$work/nolog/run.log" 2> "$work/w4.err"
check "an unwritable log ends with 1" $([ $? = 1 ]; echo $?)
check "the log's missing folder is said" \
  $([ "$(head -1 "$work/w4.err")" = "Lumipix Converter: the folder $work/nolog/ of LogFile does not exist: the run log cannot be written" ]; echo $?)
check "before the first document" $([ ! -f "$work/o4/test01-01.png" ]; echo $?)
if [ "$(id -u)" = 0 ] && command -v setpriv > /dev/null; then
  mkdir -p "$work/ro" && chmod 755 "$work/ro" && chmod 755 "$work"
  setpriv --reuid=65534 --regid=65534 --clear-groups env -i HOME="$work/empty" PATH="$work/fakebin:/usr/bin:/bin" \
    "$app" "-P:PureConsole=1,Source=$work/empty/*.doc?,Target=/tmp/,LogFile=$work/ro/run.log" 2> "$work/w5.err"
  check "a log folder the user cannot write is said before the run" \
    $(grep -q "^Lumipix Converter: LogFile $work/ro/run.log cannot be written (Permission denied)" "$work/w5.err"; echo $?)
  # The program's folder is not this user's to write: the counters go to the user's folder.
  mkdir -p "$work/nobodyhome" && chown 65534:65534 "$work/nobodyhome"
  beside=$(cat "$work/app/batchpng.ini" 2> /dev/null)
  setpriv --reuid=65534 --regid=65534 --clear-groups env -i HOME="$work/nobodyhome" PATH="$work/fakebin:/usr/bin:/bin" \
    "$app" "-P:PureConsole=1,Source=$work/empty/*.doc?,Target=/tmp/" 2> /dev/null
  check "another user's counters are kept in ~/.config/lumipix" \
    $(grep -q '^C=1' "$work/nobodyhome/.config/lumipix/batchpng.ini" && [ "$(cat "$work/app/batchpng.ini" 2> /dev/null)" = "$beside" ]; echo $?)
else
  echo "SKIP: the unwritable log folder and another user's files need root to drop to another user"
fi

# --- Friendlier forms.
"$app" "-P:PureConsole=1, Source=$work/in/test01.docx, Target=$work/o5/" 2> "$work/f1.err"
check "blanks after the commas: exit 0" $?
check "blanks after the commas: converted" $([ -f "$work/o5/test01-01.png" ]; echo $?)
check "blanks after the commas: no warning" $(! grep -q warning "$work/f1.err"; echo $?)
mkdir -p "$work/folder"
ln -s "$corpus/test01.docx" "$work/folder/a.docx"
ln -s "$corpus/test02.doc" "$work/folder/b.doc"
"$app" "-P:PureConsole=1,Source=$work/folder,Target=$work/o6/" 2> "$work/f2.err"
check "a folder as source is searched with the mask" $([ -f "$work/o6/a-01.png" ] && [ -f "$work/o6/b-01.png" ]; echo $?)
cp "$corpus/test01.docx" "$work/single.docx"
(cd "$work/empty" && "$app" "$work/single.docx" 2> "$work/f3.err")
check "a document alone without a display: exit 0" $?
check "it is converted beside itself" $([ -f "$work/single-01.png" ]; echo $?)
check "and summed up" $(has "$work/f3.err" "Lumipix Converter: 1 documents: 1 converted, 0 failed, 0 skipped; 1 pages in")
"$app" "$work/folder" 2> "$work/f4.err"
check "a folder alone without a display is converted into itself" \
  $([ -f "$work/folder/a-01.png" ] && [ -f "$work/folder/b-01.png" ]; echo $?)
before=$(wc -l < "$work/opened.txt")
"$app" /Users/ann/report.doc 2> "$work/f5.err"
check "a mistyped absolute path exits 2" $([ $? = 2 ]; echo $?)
check "and says it does not exist" $(has "$work/f5.err" "Lumipix Converter: /Users/ann/report.doc: no such document or folder")
sleep 0.3
check "and opens no uninstall page" $([ "$(wc -l < "$work/opened.txt")" = "$before" ]; echo $?)
"$app" 2> "$work/f6.err"
check "nothing to show without a display exits 2" $([ $? = 2 ]; echo $?)
check "and says what to do instead" $(has "$work/f6.err" 'give a document or folder, or "-P:PureConsole=1,Source=...,Target=..." (see --help)')

# --- Pages: only the pages asked for, under their own numbers.
png_size() {  # width and height from the PNG header
  od -An -tu1 -j16 -N8 "$1" | awk '{ print $1 * 16777216 + $2 * 65536 + $3 * 256 + $4, $5 * 16777216 + $6 * 65536 + $7 * 256 + $8 }'
}
mkdir -p "$work/three"
ln -s "$corpus/test07.docx" "$work/three/three.docx"  # three A4 pages
"$app" "-P:PureConsole=1,Source=$work/three/three.docx,Target=$work/p1/,Pages=2-3" 2> "$work/p1.err"
check "Pages=2-3 writes pages 2 and 3 only" $([ "$(ls "$work/p1")" = "$(printf 'three-02.png\nthree-03.png')" ]; echo $?)
check "and counts two pages" $(has "$work/p1.err" "1 converted, 0 failed, 0 skipped; 2 pages in")
"$app" "-P:PureConsole=1,Source=$work/three/three.docx,Target=$work/p2/,Pages=1,3" 2> "$work/p2.err"
check "Pages=1,3 on the command line writes pages 1 and 3" $([ "$(ls "$work/p2")" = "$(printf 'three-01.png\nthree-03.png')" ]; echo $?)
check "and warns about nothing" $(! grep -q warning "$work/p2.err"; echo $?)
"$app" "-P:PureConsole=1,Source=$work/three/three.docx,Target=$work/p1/,Pages=2,IsOverwrite=skip" 2> "$work/p3.err"
check "an existing first wanted page skips the document" $(has "$work/p3.err" "0 converted, 0 failed, 1 skipped")
cmp -s "$work/p1/three-02.png" "$work/p2/three-01.png"
check "page 2 is not page 1" $([ $? != 0 ]; echo $?)

# --- Dpi: the pixel size follows the resolution; Width wins.
"$app" "-P:PureConsole=1,Source=$work/three/three.docx,Target=$work/d96/,Pages=1" 2> /dev/null
"$app" "-P:PureConsole=1,Source=$work/three/three.docx,Target=$work/d192/,Pages=1,Dpi=192" 2> /dev/null
"$app" "-P:PureConsole=1,Source=$work/three/three.docx,Target=$work/dw/,Pages=1,Dpi=192,Width=300" 2> /dev/null
read -r w1 h1 <<< "$(png_size "$work/d96/three-01.png")"
read -r w2 h2 <<< "$(png_size "$work/d192/three-01.png")"
read -r w3 h3 <<< "$(png_size "$work/dw/three-01.png")"
check "an A4 page at the default 96 dpi is 794 pixels wide" $([ "${w1:-0}" = 794 ]; echo $?)
check "Dpi=192 doubles the width" $([ "${w2:-0}" = $((2 * ${w1:-0})) ]; echo $?)
check "and the height" $([ $(( ${h2:-0} - 2 * ${h1:-0} )) -ge -1 ] && [ $(( ${h2:-0} - 2 * ${h1:-0} )) -le 1 ]; echo $?)
expected_h3=$(( 300 * ${h1:-0} / ${w1:-1} ))
check "Width wins over Dpi" $([ "${w3:-0}" = 300 ] && [ "${h3:-0}" -ge "$expected_h3" ] && [ "${h3:-0}" -le $((expected_h3 + 1)) ]; echo $?)
"$app" "-P:PureConsole=1,Source=$work/three/three.docx,Target=$work/dbad/,Pages=1,Dpi=high" 2> "$work/dbad.err"
check "an unreadable Dpi is said and 96 is used" \
  $(has "$work/dbad.err" "warning: Dpi=high is not a resolution from 1 to 1200; the default 96 is used" &&
    [ "$(png_size "$work/dbad/three-01.png")" = "$w1 $h1" ]; echo $?)

# --- Shard: three machines' runs cover every document exactly once.
mkdir -p "$work/archive/sub/deeper"
i=0
for f in "$corpus"/test0*.docx "$corpus"/test1[0-2].docx; do
  i=$((i + 1))
  case $((i % 3)) in 0) d="$work/archive";; 1) d="$work/archive/sub";; 2) d="$work/archive/sub/deeper";; esac
  ln -s "$f" "$d/doc$i.docx"
done
for share in 1 2 3; do
  "$app" "-P:PureConsole=1,Source=$work/archive,Subdir=1,Target=$work/shards/,Shard=$share/3,LogFile=$work/shard$share.log" \
    2> "$work/shard$share.err"
  check "share $share/3 exits 0" $?
done
sort "$work"/shard?.log | sed 's/\r$//' | awk -F' => ' '{ print $2 }' > "$work/shard-docs.txt"
find "$work/archive" -name '*.docx' | sort > "$work/all-docs.txt"
check "the three shares together take every document exactly once" $(cmp -s "$work/shard-docs.txt" "$work/all-docs.txt"; echo $?)
check "no document twice" $([ -z "$(uniq -d "$work/shard-docs.txt")" ]; echo $?)
check "every share converted its own" $([ "$(cat "$work"/shard?.log | grep -c '^Success => ')" = "$i" ]; echo $?)
check "each share's summary counts only its documents" \
  $([ "$(cat "$work"/shard?.err | sed -n 's/^Lumipix Converter: \([0-9]*\) documents:.*/\1/p' | paste -sd+ | bc)" = "$i" ]; echo $?)
check "the shares are not all in one" $([ "$(wc -l < "$work/shard1.log")" -lt "$i" ]; echo $?)
"$app" "-P:PureConsole=1,Source=$work/archive,Target=$work/shards/,Shard=4/3" 2> "$work/shardbad.err"
check "an unreadable share refuses to start" $([ $? = 1 ] && grep -q '"Shard"' "$work/shardbad.err"; echo $?)

echo "$passes passed, $fails failed"
[ "$fails" = 0 ]
