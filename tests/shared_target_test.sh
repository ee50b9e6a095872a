#!/usr/bin/env bash
# Several runs into one target folder, as on machines that share it: two runs at once
# in each IsOverwrite mode lose no page and mix none; a skip run after a namesake was
# added converts it and leaves the older document's pages alone; what another host is
# writing is never swept; FailExit and JsonLog tell a scheduler what happened.
# Arguments: the program. Skipped (77) where LibreOffice cannot make the documents.
set -u
exe="$1"
here=$(cd "$(dirname "$0")" && pwd)
. "$here/documents.sh"
command -v jq > /dev/null || { echo "SKIP: jq is not installed"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fails=0; passes=0
check() { if [ "$2" = 0 ]; then passes=$((passes+1)); else fails=$((fails+1)); echo "FAIL: $1"; fi; }
mkdir -p "$work/app" "$work/docs"
cp "$exe" "$(dirname "$exe")/batchpng.so" "$work/app/"
make_documents "$work/docs" a:2 b:1 c:3 d:2 || { echo "SKIP: LibreOffice cannot make the test documents"; exit 77; }
run() {  # options...: a console run; its exit code
  local opts="PureConsole=1"
  for o in "$@"; do opts="$opts,$o"; done
  "$work/app/batchpng" "-P:$opts" 2> /dev/null
}
# The page files a pattern of a run log names ("/t/a-doc-*.png"), one a line.
pages_of() { local p="$1"; ls "${p%\**}"[0-9][0-9]"${p#*\*}" 2> /dev/null; }
temporaries() { ls -A "$1" | grep '^\.lumipix-'; }

# Namesakes of every kind, sub-folders flattened into the target.
src="$work/src"
mkdir -p "$src/x" "$src/y"
cp "$work/docs/a.doc" "$work/docs/a.docx" "$work/docs/d.docx" "$src/"
cp "$work/docs/b.doc" "$src/x/a.doc"
cp "$work/docs/c.docx" "$src/y/a.docx"
cp "$work/docs/d.doc" "$src/x/d.doc"
opts=("Source=$src" Subdir=1 KeepTargetSubdirs=0)
run "${opts[@]}" "Target=$work/ref/" ThreadsCount=2 "LogFile=$work/ref.log"
check "the reference run converts all six documents" $([ "$(grep -c '^Success => .*/ref/' "$work/ref.log")" = 6 ]; echo $?)
ref=$(page_sums "$work/ref")

# Two runs at once into one target, in each mode.
for mode in 1 skip 0; do
  t="$work/two-$mode"
  run "${opts[@]}" "Target=$t/" ThreadsCount=2 IsOverwrite=$mode "LogFile=$t-A.log" &
  a=$!
  run "${opts[@]}" "Target=$t/" ThreadsCount=2 IsOverwrite=$mode "LogFile=$t-B.log" &
  b=$!
  wait $a; ra=$?
  wait $b; rb=$?
  check "IsOverwrite=$mode: both runs end with 0 ($ra, $rb)" $([ $ra = 0 ] && [ $rb = 0 ]; echo $?)
  check "IsOverwrite=$mode: nothing of a run is left" $([ -z "$(temporaries "$t")" ]; echo $?)
  if [ $mode != 0 ]; then
    # One set of pages, each document's own, under the names of a single run.
    diff <(echo "$ref") <(page_sums "$t") > "$work/diff.txt"
    check "IsOverwrite=$mode: the pages of one run, no page lost or mixed ($(head -c 300 "$work/diff.txt"))" $?
    check "IsOverwrite=$mode: every document converted once or left to the run converting it" \
      $([ "$(cat "$t-A.log" "$t-B.log" | grep -c '^Success => ')" = 12 ]; echo $?)
  else
    # Two copies of every document, under names no two documents share.
    names=$(cat "$t-A.log" "$t-B.log" | grep '^Success => ' | sed 's/.* => //; s/\r$//')
    check "IsOverwrite=0: twelve names, all different" $([ "$(echo "$names" | sort -u | wc -l)" = 12 ]; echo $?)
    bad=0; count=0
    while IFS= read -r line; do
      doc=$(echo "$line" | sed 's/^Success => \(.*\) => .*$/\1/')
      pattern=$(echo "$line" | sed 's/^.* => //; s/\r$//')
      refpattern=$(grep -F "Success => $doc => " "$work/ref.log" | sed 's/^.* => //; s/\r$//')
      for page in $(pages_of "$refpattern"); do
        n=${page##*-}
        count=$((count + 1))
        cmp -s "$page" "${pattern%\**}$n" || { bad=1; echo "  $doc: page $n differs in ${pattern%\**}$n"; }
      done
    done < <(cat "$t-A.log" "$t-B.log" | grep '^Success => ')
    check "IsOverwrite=0: every copy has the pages of its own document ($count compared)" \
      $([ $bad = 0 ] && [ $count = 24 ]; echo $?)
    check "IsOverwrite=0: nothing but those pages" $([ "$(ls "$t" | wc -l)" = 24 ]; echo $?)
  fi
done

# A skip run after a namesake nearer the source folder was added: it is converted, and
# the older document keeps its name and its pages.
s="$work/skip"
mkdir -p "$s/in/x" "$s/alone/in"
cp "$work/docs/b.doc" "$s/in/x/a.doc"
run "Source=$s/in" Subdir=1 KeepTargetSubdirs=0 "Target=$s/out/"
before=$(page_sums "$s/out")
cp "$work/docs/c.doc" "$s/in/a.doc"
run "Source=$s/in" Subdir=1 KeepTargetSubdirs=0 "Target=$s/out/" IsOverwrite=skip "LogFile=$s/run.log"
check "skip: the new namesake is converted" $(grep -q "^Success => $s/in/a.doc => $s/out/a-doc-\*.png" "$s/run.log"; echo $?)
check "skip: the older document is left alone" $(grep -q "^Success => $s/in/x/a.doc => "$'\r'"\$" "$s/run.log"; echo $?)
check "skip: its pages are as they were" $([ "$(page_sums "$s/out" | grep -v '^a-doc-')" = "$before" ]; echo $?)
# The new one's pages are those it gets alone (same path below the source folder).
cp "$work/docs/c.doc" "$s/alone/in/a.doc"
run "Source=$s/alone/in" "Target=$s/alone/out/"
diff <(page_sums "$s/alone/out" | sed 's/^a-/a-doc-/') <(page_sums "$s/out" | grep '^a-doc-') > /dev/null
check "skip: the new namesake's pages are its own" $?

# What another host is writing stays; what is proven abandoned goes.
h="$work/hosts"
mkdir -p "$h/in" "$h/out"
cp "$work/docs/a.doc" "$h/in/"
fresh="$h/out/.lumipix-node7.example~0a1b2c3d-$$-Ab12Cd.tmp"
# A name without a host (older versions) whose process id runs nowhere here: it may be
# another machine's, so only age may remove it.
true & ended=$!
wait $ended
unknown="$h/out/.lumipix-$ended-Zz99Yy.tmp"
printf 'part of a page' > "$unknown"
old="$h/out/.lumipix-node7.example~0a1b2c3d-1-Ef34Gh.tmp"
claim="$h/out/.lumipix-claim-00000000000000ff"
printf 'part of a page' > "$fresh"
printf 'part of a page' > "$old"
printf 'lumipix-claim 1\nhost node7.example~0a1b2c3d\npid 1\nsince 1\nname x-%%.*d.png\nsource x.doc\ntoken t\n' > "$claim"
touch -d '2 days ago' "$old"
run "Source=$h/in/*.doc" "Target=$h/out/"
check "hosts: a fresh temporary file of another host survives the run" $([ -f "$fresh" ]; echo $?)
check "hosts: another host's claim survives the run" $([ -f "$claim" ]; echo $?)
check "hosts: a fresh one without a host survives although its pid runs nowhere here" $([ -f "$unknown" ]; echo $?)
check "hosts: an abandoned one (two days old) is removed" $([ ! -e "$old" ]; echo $?)
check "hosts: the document is converted beside them" $([ -f "$h/out/a-02.png" ]; echo $?)

# Two containers (process-id namespaces of their own, so both programs are process 1)
# sharing the target and the temporary folder: the one that ends first leaves the
# other's offices alone. The first is held still while its office lives, and the second
# runs from start to end meanwhile.
if unshare --pid --fork --mount-proc true 2> /dev/null; then
  c="$work/containers"
  mkdir -p "$c/tmp" "$c/in"
  cp "$work/docs/"[abcd].doc* "$c/in/"
  in_container() {  # options: a console run as process 1 of a namespace of its own
    env -u XDG_RUNTIME_DIR TMPDIR="$c/tmp" unshare --pid --fork --mount-proc "$work/app/batchpng" \
      "-P:PureConsole=1,$1" 2> /dev/null
  }
  in_container "Source=$c/in,Target=$c/out/,LogFile=$c/A.log" &
  a=$!
  held=""
  for _ in $(seq 300); do
    if ls -d "$c/tmp"/lumipix-office-1-* > /dev/null 2>&1; then
      held=$(pgrep -x batchpng -P "$(pgrep -f "^unshare .*LogFile=$c/A.log" | head -n 1)")
      break
    fi
    sleep 0.1
  done
  if [ -n "$held" ]; then
    kill -STOP "$held"
    in_container "Source=$work/docs/b.doc,Target=$c/out/,LogFile=$c/B.log"
    rb=$?
    kill -CONT "$held"
  else
    rb=1
  fi
  wait $a; ra=$?
  check "containers: the second run ends with 0 while the first is held ($rb)" $([ $rb = 0 ]; echo $?)
  check "containers: the first run ends with 0 ($ra)" $([ $ra = 0 ]; echo $?)
  check "containers: the first run converts all eight documents ($(grep -v '^Success' "$c/A.log" | head -c 300))" \
    $([ "$(grep -c '^Success => ' "$c/A.log")" = 8 ]; echo $?)
  check "containers: nothing of either run is left in the temporary folder" $([ -z "$(ls -A "$c/tmp")" ]; echo $?)
else
  echo "SKIP: containers: process-id namespaces need root (unshare --pid)"
fi

# For schedulers: a failed document ends the run with 3 when FailExit asks for it, and
# the JSON report has one line per document.
f="$work/fail"
mkdir -p "$f/in"
cp "$work/docs/b.docx" "$f/in/good.docx"
head -c 3000 /dev/urandom > "$f/in/broken.doc"
run "Source=$f/in" "Target=$f/out/"
check "FailExit off: exit code 0 with a failed document" $?
run "Source=$f/in" "Target=$f/out/" FailExit=1 "JsonLog=$f/report.jsonl"
check "FailExit=1: exit code 3 with a failed document" $([ $? = 3 ]; echo $?)
check "JsonLog: one converted and one failed document, one page" \
  $([ "$(jq -s -c '[(map(.status) | sort), (map(.pages) | add)]' "$f/report.jsonl")" = '[["converted","failed"],1]' ]; echo $?)
check "JsonLog: the failure says why and the page file is named" \
  $(jq -e -s 'any(.[]; .status == "failed" and (.message | test("damaged"))) and
    any(.[]; .files == ["'"$f"'/out/good-01.png"])' "$f/report.jsonl" > /dev/null; echo $?)

echo "shared target: $passes passed, $fails failed"
[ "$fails" = 0 ]
