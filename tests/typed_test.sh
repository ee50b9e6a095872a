#!/usr/bin/env bash
# The real program as a Linux user types it, in a terminal, a script or a cron job,
# run as a plain account with no passwd entry where permissions matter: names in the
# working folder, several documents, a display that cannot be opened, names that are
# not masks, the checks before the first document, values read as meant, honest log
# lines, the trace, and links another account planted in a shared folder.
# The documents are made here, so that this runs without the corpus.
set -u
exe="$1"
source "$(dirname "$0")/testlib.sh"
work=$(mktemp -d)
trap 'chmod -R u+rwX "$work" 2> /dev/null; rm -rf "$work"' EXIT
has() { grep -qF -- "$2" "$1"; echo $?; }
make_documents "$work/made" || exit 1
made="$work/made"  # one.doc(x): 1 page, two.doc(x): 2 pages, three.doc(x): 3 pages
mkdir -p "$work/app" "$work/fakebin" "$work/tmp"
cp "$exe" "$work/app/batchpng"
cp "$(dirname "$exe")/batchpng.so" "$work/app/batchpng.so"
printf '#!/bin/sh\nexit 0\n' > "$work/fakebin/xdg-open"  # the error report opens no browser
chmod +x "$work/fakebin/xdg-open"
chmod 755 "$work/app"
chmod 1777 "$work" "$work/tmp"  # the plain account writes its pages and logs here
app="$work/app/batchpng"
export PATH="$work/fakebin:$PATH" TMPDIR="$work/tmp"
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM XDG_RUNTIME_DIR

# The plain account: uid 43210 without a passwd entry, when this test may drop to it.
me=""
if [ "$(id -u)" = 0 ] && command -v setpriv > /dev/null; then
  mkdir -p "$work/home" && chown 43210:43210 "$work/home"
  me="setpriv --reuid=43210 --regid=43210 --clear-groups env -i HOME=$work/home TMPDIR=$work/tmp PATH=$work/fakebin:/usr/bin:/bin"
else
  echo "SKIP: the plain account's cases need root to drop to another account"
fi
as_user() { if [ -n "$me" ]; then $me "$@"; else "$@"; fi; }
mine() { [ -n "$me" ] && chown -R 43210:43210 "$@"; }

# --- Arguments: a name in the working folder, several, ".", a stale display.
mkdir -p "$work/reports"
cp "$made/one.doc" "$work/reports/q3.doc"
cp "$made/one.docx" "$work/reports/q?.doc"
cp "$made/two.docx" "$work/reports/qX.doc"
cp "$made/one.doc" "$work/reports/back\\slash.doc"
mine "$work/reports"
(cd "$work/reports" && as_user "$app" q3.doc 2> "$work/a1.err")
check "a name in the working folder converts beside it" $([ $? = 0 ] && [ -f "$work/reports/q3-01.png" ]; echo $?)
(cd "$work/reports" && as_user "$app" 'q?.doc' 'back\slash.doc' 2> "$work/a2.err")
check "several documents: every one converted" \
  $([ -f "$work/reports/q?-01.png" ] && [ -f "$work/reports/back\\slash-01.png" ]; echo $?)
check "a name that is a file is that file, not a mask" $([ ! -e "$work/reports/qX-01.png" ]; echo $?)
check "and the summary counts two" $(has "$work/a2.err" "Lumipix Converter: 2 documents: 2 converted")
rm -f "$work/reports"/*.png
(cd "$work/reports" && as_user env DISPLAY=:99 "$app" . 2> "$work/a3.err")
check "a display that cannot be opened: \".\" is converted in the console" \
  $([ -f "$work/reports/qX-02.png" ] && [ -f "$work/reports/q3-01.png" ]; echo $?)
as_user env DISPLAY=:99 "$app" > /dev/null 2> "$work/a4.err"
check "nothing to convert and no display: exit 2 with the reason" \
  $([ $? = 2 ] && grep -q 'no display to show the window on (DISPLAY=:99 cannot be opened)' "$work/a4.err"; echo $?)
as_user "$app" ftp://host/a.doc 2> "$work/a5.err"
check "another scheme fails clearly" \
  $([ $? = 2 ] && grep -q 'ftp://host/a.doc: only http:// and https:// addresses can be fetched' "$work/a5.err"; echo $?)
mkdir -p "$work/my docs" && cp "$made/one.docx" "$work/my docs/a.docx" && mine "$work/my docs"
as_user "$app" "file://$work/my%20docs/a.docx" 2> /dev/null
check "a file: address with escapes as a bare argument" $([ -f "$work/my docs/a-01.png" ]; echo $?)

# --- Before converting: nothing is made for a mistyped source; a target or log that
# cannot be had stops the run at once, with the system's reason.
as_user "$app" "-P:PureConsole=1,Source=$work/typo/deep/y.doc" 2> "$work/b1.err"
check "a mistyped source stops with exit 1" \
  $([ $? = 1 ] && grep -q "the source folder $work/typo/deep/ does not exist" "$work/b1.err"; echo $?)
check "and nothing was made for it" $([ ! -e "$work/typo" ]; echo $?)
if [ -n "$me" ]; then
  mkdir -p "$work/locked" && chmod 755 "$work/locked"
  as_user "$app" "-P:PureConsole=1,Source=$work/reports/q3.doc,Target=$work/locked/out/" 2> "$work/b2.err"
  check "a target that cannot be made: exit 1 with the reason" \
    $([ $? = 1 ] && grep -q "CreateDir Failed: $work/locked/out: Permission denied" "$work/b2.err"; echo $?)
  as_user "$app" "-P:PureConsole=1,Source=$work/reports/q3.doc,Target=$work/b3/,LogFile=$work/locked/run.log" \
    2> "$work/b3.err"
  check "a log that cannot be written: exit 1 before the first document" \
    $([ $? = 1 ] && grep -q "LogFile $work/locked/run.log cannot be written (Permission denied)" "$work/b3.err" &&
      [ -z "$(ls "$work/b3" 2> /dev/null)" ]; echo $?)
fi

# --- Values read as meant.
mkdir -p "$work/v" && mine "$work/v"
as_user "$app" "-P:PureConsole=1,Source= $work/reports/q3.doc ,Target= $work/v/ ,IsOverwrite=no" 2> "$work/v1.err"
as_user "$app" "-P:PureConsole=1,Source= $work/reports/q3.doc ,Target= $work/v/ ,IsOverwrite=no" 2> "$work/v2.err"
check "blanks around values are not part of them" $([ -f "$work/v/q3-01.png" ] && [ ! -e "$work/v/ " ]; echo $?)
check "IsOverwrite=no writes under a new name" $([ -f "$work/v/-lumipix-q3-01.png" ]; echo $?)
touch -d '2001-01-01' "$work/v/q3-01.png"
as_user "$app" "-P:PureConsole=1,Source=$work/reports/q3.doc,Target=$work/v/,IsOverwrite=nope" 2> "$work/v3.err"
check "an unreadable IsOverwrite stops the run" \
  $([ $? = 1 ] && grep -q 'IsOverwrite=nope is not skip, True or False' "$work/v3.err"; echo $?)
check "and overwrites nothing" $([ "$(date -r "$work/v/q3-01.png" +%Y)" = 2001 ]; echo $?)
as_user "$app" "-P:PureConsole=1,Source=$work/reports/q3.doc,Target=$work/v4/,ThreadsCount=100000" 2> "$work/v4.err"
check "ThreadsCount=100000 is capped, said, and converts" \
  $([ $? = 0 ] && grep -q 'ThreadsCount=100000 is more than a run starts; 64 converter threads are used' "$work/v4.err" &&
    [ -f "$work/v4/q3-01.png" ]; echo $?)

# --- Honest lines: a name with a line break, a name that is not UTF-8, no page in Pages.
mkdir -p "$work/odd"
cp "$made/one.doc" "$work/odd/$(printf 'evil\nFailure => forged.doc')"
cp "$made/one.docx" "$work/odd/$(printf 'caf\xe9.doc')"
mine "$work/odd"
as_user "$app" "-P:PureConsole=1,Source=$work/odd,Target=$work/odd-out/,LogFile=$work/odd-out/run.log,Pages=3-" \
  2> "$work/h1.err"
check "one log line per document, none forged" \
  $([ "$(wc -l < "$work/odd-out/run.log")" = 2 ] && [ "$(grep -c '^Failure' "$work/odd-out/run.log")" = 0 ]; echo $?)
check "the line break is written as \\x0A" $(has "$work/odd-out/run.log" 'evil\x0AFailure => forged.doc => ')
shown=$(sed -n 's/^Success => \(.*caf.*\.doc\) => .*/\1/p' "$work/odd-out/run.log")
check "the name that is not UTF-8 is written reversibly" $([ -f "$(printf '%b' "$shown")" ]; echo $?)
check "a document with no page in Pages says so" \
  $(grep -q "no page written: the document has 1 pages and Pages=3- names none of them" "$work/odd-out/run.log"; echo $?)

# --- The trace: on standard error with -v, or into a file.
as_user "$app" -v "$work/reports/q3.doc" 2> "$work/t1.err"
for line in ' run: source ' ' office: pid [0-9]* started in [0-9.]* s ' ' document: .*q3.doc: opened in [0-9.]* s' \
            ' document: .*q3.doc: 1 page files written in ' ' office: pid [0-9]* ended: asked to quit'; do
  check "-v traces '$line'" $(grep -q "^ *[0-9.]* \[t[0-9]*\]$line" "$work/t1.err"; echo $?)
done
as_user "$app" "-P:PureConsole=1,Source=$work/reports/q3.doc,Target=$work/t2/,Trace=$work/t2.trace" 2> /dev/null
check "Trace= writes the trace to a file" $(grep -q ' office: pid [0-9]* started in ' "$work/t2.trace"; echo $?)

# --- Links another account planted in a folder every account may write.
if [ -n "$me" ]; then
  mkdir -p "$work/shared" "$work/mine"
  chmod 1777 "$work/shared"
  echo precious > "$work/mine/precious.txt"
  chown -R 43210:43210 "$work/mine"
  ln -s "$work/mine/precious.txt" "$work/shared/run.log" && chown -h 43211:43211 "$work/shared/run.log"
  ln -s "$work/mine" "$work/shared/out" && chown -h 43211:43211 "$work/shared/out"
  as_user "$app" "-P:PureConsole=1,Source=$work/reports/q3.doc,Target=$work/p1/,LogFile=$work/shared/run.log" \
    2> "$work/p1.err"
  check "a planted log link is not followed" \
    $([ $? = 1 ] && grep -q "$work/shared/run.log is a symbolic link that another account, uid 43211" "$work/p1.err" &&
      [ "$(cat "$work/mine/precious.txt")" = precious ]; echo $?)
  as_user "$app" "-P:PureConsole=1,Source=$work/reports/q3.doc,Target=$work/shared/out/x/" 2> "$work/p2.err"
  check "a planted target link is not followed" \
    $([ $? = 1 ] && grep -q "$work/shared/out is a symbolic link that another account" "$work/p2.err" &&
      [ ! -e "$work/mine/x" ]; echo $?)
  $me ln -s "$work/mine/own.log" "$work/shared/own.log"
  as_user "$app" "-P:PureConsole=1,Source=$work/reports/q3.doc,Target=$work/p3/,LogFile=$work/shared/own.log" 2> /dev/null
  check "the account's own link is followed" $(grep -q '^Success => ' "$work/mine/own.log"; echo $?)
fi

check "no office left" $([ -z "$(offices_left)" ]; echo $?)
echo "$passes passed, $fails failed"
[ "$fails" = 0 ]
