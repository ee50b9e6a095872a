#!/usr/bin/env bash
# The real program on folders where names collide or are unusual: every document's
# pages are whole and its own, and nothing of the user's is replaced or left behind.
# Arguments: the program, the corpus folder.
set -u
exe="$1"
source "$(dirname "$0")/testlib.sh"
need_corpus "$2"
corpus="$2"
work=$(mktemp -d)
cleanup() {
  mountpoint -q "$work/full" 2>/dev/null && umount -l "$work/full"
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/app"
cp "$exe" "$work/app/batchpng"
cp "$(dirname "$exe")/batchpng.so" "$work/app/batchpng.so"
run() {  # options...; the console run's exit code
  local opts="PureConsole=1"
  for o in "$@"; do opts="$opts,$o"; done
  "$work/app/batchpng" "-P:$opts" > /dev/null
}
sum() { md5sum < "$1" | cut -d' ' -f1; }
pngs_whole() {  # every .png of a folder ends with its IEND chunk
  local f
  for f in "$1"/*.png; do
    [ -e "$f" ] || continue
    [ "$(tail -c 8 "$f" | od -An -tx1 | tr -d ' \n')" = "49454e44ae426082" ] || return 1
  done
}

# Namesakes, two converter threads: test13.doc (1 page) and test13.docx (2 pages) in one
# folder, and two different documents named a.doc in two sub-folders with the
# sub-folders flattened. Each must keep all its pages, the same as when converted alone.
in="$work/names/in"
mkdir -p "$in/x" "$in/y"
cp "$corpus/test13.doc" "$corpus/test13.docx" "$in/"
cp "$corpus/test04.doc" "$in/x/a.doc"
cp "$corpus/test07.doc" "$in/y/a.doc"
declare -A alone
for doc in test13.doc test13.docx x/a.doc y/a.doc; do
  one="$work/names/alone-$(echo "$doc" | tr / _)"
  # At the same path below its source folder, which its pages record.
  mkdir -p "$(dirname "$one/in/$doc")"
  cp "$in/$doc" "$one/in/$doc"
  run "Source=$one/in/*.doc?" "Target=$one/out/" Subdir=1 KeepTargetSubdirs=0
  for f in "$one"/out/*.png; do alone["$doc:$(basename "$f" | sed 's/.*-\([0-9]*\)\.png$/\1/')"]=$(sum "$f"); done
done
run "Source=$in/*.doc?" "Target=$work/names/out/" ThreadsCount=2 KeepTargetSubdirs=0 Subdir=1 "LogFile=$work/names.log"
check "namesakes: the run exits 0" $?
check "namesakes: four successes" $([ "$(grep -c '^Success => ' "$work/names.log")" = 4 ]; echo $?)
check "namesakes: 1 + 2 + 2 + 3 pages, nothing else" $([ "$(ls -A "$work/names/out" | wc -l)" = 8 ]; echo $?)
ok=0; compared=0
while IFS= read -r line; do
  file=$(echo "$line" | sed 's/^Success => \(.*\) => .*$/\1/')
  pattern=$(echo "$line" | sed 's/^.* => \(.*\)\r$/\1/')
  doc=${file#"$in/"}
  for key in "${!alone[@]}"; do
    [ "${key%%:*}" = "$doc" ] || continue
    page=${key#*:}
    page_file=${pattern/\*/$page}
    compared=$((compared+1))
    if [ "$(sum "$page_file" 2>/dev/null)" != "${alone[$key]}" ]; then ok=1; echo "  $doc page $page differs in $page_file"; fi
  done
done < <(grep '^Success => ' "$work/names.log")
check "namesakes: every page the same as when converted alone" $([ $ok = 0 ] && [ $compared = 8 ]; echo $?)
check "namesakes: the log names the pattern each one got" \
  $(grep -q "test13.docx => $work/names/out/test13-docx-\*.png" "$work/names.log"; echo $?)

# Names as they are: Latin-1, 250 bytes, a LibreOffice lock file, "file:" addresses.
odd="$work/odd"
mkdir -p "$odd/in"
latin=$(printf 'caf\xe9')
long=$(printf 'n%.0s' $(seq 246))
cp "$corpus/test01.doc" "$odd/in/$latin.doc"
cp "$corpus/test04.doc" "$odd/in/$long.doc"
printf 'ann,host,ann,01.02.2024 10:00,file:///home/ann/.config/libreoffice/4;' > "$odd/in/.~lock.$latin.doc#"
(cd "$odd" && run "Source=file://$odd/in/*.doc?" "Target=file://$odd/out/" ThreadsCount=2 "LogFile=$odd/run.log")
check "odd names: the run exits 0" $?
check "odd names: two documents, both converted" $([ "$(grep -c '^Success => ' "$odd/run.log")" = 2 ] && \
  [ "$(wc -l < "$odd/run.log")" = 2 ]; echo $?)
check "odd names: the Latin-1 name is converted under its own bytes" $([ -s "$odd/out/$latin-01.png" ]; echo $?)
check "odd names: the log names it reversibly" $(grep -qF 'caf\xE9.doc => ' "$odd/run.log" &&
  [ -f "$(printf '%b' "$(sed -n 's/^Success => \(.*caf.*\.doc\) => .*/\1/p' "$odd/run.log")")" ]; echo $?)
check "odd names: the 250-byte name has both pages" $([ -s "$odd/out/$long-01.png" ] && [ -s "$odd/out/$long-02.png" ]; echo $?)
check "odd names: only page images in the target" $([ "$(ls -A "$odd/out" | wc -l)" = 3 ] && pngs_whole "$odd/out"; echo $?)
(cd "$odd" && "$work/app/batchpng" "-P:PureConsole=1,Source=$odd/in/*.doc?,Target=file:" 2> "$odd/err.txt")
check "odd names: Target=file: names no folder and is refused" $([ $? = 1 ] && grep -q '"Target" (file:) names no folder' "$odd/err.txt"; echo $?)
check "odd names: no folder named file: anywhere" $([ -z "$(find "$work" -name 'file:*')" ]; echo $?)

# RenameSource never replaces a file, and says so.
ren="$work/rename"
mkdir -p "$ren/in"
cp "$corpus/test02.doc" "$ren/in/a.doc"
echo "the user's own backup" > "$ren/in/a.doc.bak"
run "Source=$ren/in/*.doc" "Target=$ren/out/" RenameSource=.bak "LogFile=$ren/run.log"
check "rename: the document stays" $([ -s "$ren/in/a.doc" ]; echo $?)
check "rename: the existing file is untouched" $([ "$(cat "$ren/in/a.doc.bak")" = "the user's own backup" ]; echo $?)
check "rename: the log says why" $(grep -q "^Success => .* (the document was not renamed: \"$ren/in/a.doc.bak\" already exists)" "$ren/run.log"; echo $?)

# A full disk keeps the previous pages.
full="$work/full"
mkdir -p "$full"
if mount -t tmpfs -o size=512k lumitest "$full" 2>/dev/null; then
  mkdir -p "$full/in"
  cp "$corpus/test04.doc" "$full/in/a.doc"
  printf 'previous page one' > "$full/a-01.png"
  printf 'previous page two' > "$full/a-02.png"
  dd if=/dev/zero of="$full/filler" bs=4k 2>/dev/null
  run "Source=$full/in/*.doc" "Target=$full/" "LogFile=$work/full.log"
  check "full disk: the document fails with the reason" $(grep -q '^Failure => .*No space left on device' "$work/full.log"; echo $?)
  check "full disk: the previous pages are intact" $([ "$(cat "$full/a-01.png")" = "previous page one" ] && \
    [ "$(cat "$full/a-02.png")" = "previous page two" ]; echo $?)
  check "full disk: nothing else left" $([ "$(ls -A "$full" | sort | tr '\n' ' ')" = "a-01.png a-02.png filler in " ]; echo $?)
  umount -l "$full"
else
  echo "SKIP: full disk (cannot mount a tmpfs; needs root)"
fi

# A killed run leaves no partial page, only temporary files of its own, which the
# next run removes.
kill_dir="$work/killed"
mkdir -p "$kill_dir/in"
cp "$corpus/bigfile-01.doc" "$corpus/test15.doc" "$kill_dir/in/"
"$work/app/batchpng" "-P:PureConsole=1,Source=$kill_dir/in/*.doc,Target=$kill_dir/out/,ThreadsCount=2" > /dev/null &
pid=$!
for _ in $(seq 600); do ls -A "$kill_dir/out" 2>/dev/null | grep -q '^\.lumipix-' && break; sleep 0.05; done
sleep 0.3
kill -9 $pid
wait $pid 2>/dev/null
leftover=$(ls -A "$kill_dir/out" | grep -v '^\.lumipix-.*-[0-9]*-[A-Za-z0-9]\{6\}\.tmp$' | grep -v '^\.lumipix-claim-' |
  grep -v -- '-[0-9][0-9]*\.png$')
check "killed: nothing but temporary files, claims and page images" $([ -z "$leftover" ]; echo $?)
check "killed: every page image there is whole" $(pngs_whole "$kill_dir/out"; echo $?)
run "Source=$kill_dir/in/*.doc" "Target=$kill_dir/out/"
check "killed: the next run leaves no temporary file" $([ -z "$(ls -A "$kill_dir/out" | grep '^\.lumipix-')" ]; echo $?)
check "killed: the next run writes all 23 pages" $([ "$(ls "$kill_dir/out" | grep -c '\.png$')" = 23 ]; echo $?)

echo "names: $passes passed, $fails failed"
[ "$fails" = 0 ]
