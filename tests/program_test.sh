#!/usr/bin/env bash
# The real program, black-box: copied under a new name into a temporary folder,
# with a recording xdg-open first on PATH.
set -u
exe="$1"
source "$(dirname "$0")/testlib.sh"
# The main job at the end runs over the corpus when LUMI_CORPUS names it (program_corpus),
# else over documents made here (program_blackbox).
[ -n "${LUMI_CORPUS:-}" ] && need_corpus "$LUMI_CORPUS"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The offices of this run keep their folders here, so that only they are looked for.
mkdir "$work/tmp"
export TMPDIR="$work/tmp"
unset XDG_RUNTIME_DIR
mkdir -p "$work/app" "$work/fakebin" "$work/empty"
cp "$exe" "$work/app/mypngtool"
cat > "$work/fakebin/xdg-open" <<EOS
#!/bin/sh
printf '%s\n' "\$1" >> "$work/opened.txt"
EOS
chmod +x "$work/fakebin/xdg-open"
export PATH="$work/fakebin:$PATH"
wait_opened() {  # count
  for _ in $(seq 100); do [ "$(wc -l < "$work/opened.txt" 2>/dev/null || echo 0)" -ge "$1" ] && return 0; sleep 0.05; done
  return 1
}
birth=$(stat -c %W "$work/app"); [ "$birth" = 0 ] || [ "$birth" = "-" ] && birth=$(stat -c %Y "$work/app")
install=$(python3 -c '
import sys, time
t = time.gmtime(int(sys.argv[1]))
v = (t.tm_year-1980)<<25 | t.tm_mon<<21 | t.tm_mday<<16 | t.tm_hour<<11 | t.tm_min<<5 | t.tm_sec//2
print(v - (1<<32) if v >= 1<<31 else v)' "$birth")

"$work/app/mypngtool" -U; check "-U exits 0" $?
wait_opened 1
check "-U opens one link" $([ "$(wc -l < "$work/opened.txt")" = 1 ]; echo $?)
link=$(head -1 "$work/opened.txt")
case "$link" in *"a=uni&"*"&i=$install") r=0;; *) r=1; echo "link: $link (install $install)";; esac
check "-U link ends with the install number" $r

"$work/app/mypngtool" "/iX=1"; check "/iX=1 exits 0" $?
wait_opened 2
case "$(sed -n 2p "$work/opened.txt")" in *"a=ins&"*"&X=1") r=0;; *) r=1;; esac
check "/iX=1 link ends in &X=1" $r

"$work/app/mypngtool" "-P:PureConsole=1,Source=$work/empty/*.doc?,Target=$work/out/,LogFile=$work/run.log"
check "console run over an empty folder exits 0" $?
check "empty run log written" $([ -f "$work/run.log" ] && [ ! -s "$work/run.log" ]; echo $?)
check "no link after a run without failures" $([ "$(wc -l < "$work/opened.txt")" = 2 ]; echo $?)

(cd "$work/empty" && "$work/app/mypngtool" "-P:PureConsole=1,Source=*.doc?" 2> "$work/err.txt")
check "a mask alone is the working folder's, its target too: exit 0" $?
check "and it is searched there" $(grep -qF "no document matches $work/empty/*.doc?" "$work/err.txt"; echo $?)
"$work/app/mypngtool" "-P:PureConsole=1,Source=$work/empty/*.doc?,Target=file:" 2> "$work/err.txt"
check "a target that names no folder exits 1" $([ $? = 1 ]; echo $?)
check "and names the option" $(grep -q '"Target"' "$work/err.txt"; echo $?)

"$work/app/mypngtool" -U
wait_opened 3
counters=$(sed -n 3p "$work/opened.txt")
# Five starts before this one's counter: r counts every start, c the two runs.
case "$counters" in *"&c=r6c2a0"*) r=0;; *) r=1; echo "counters: $counters";; esac
check "a later start reports the counters of the ones before" $r

cp "$work/app/mypngtool" "$work/app/plainname"
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$work/app/plainname" > /dev/null 2> "$work/err2.txt"
check "window start without a display exits 2" $([ $? = 2 ]; echo $?)
check "and says why" $(grep -q 'Lumimet Converter: no display' "$work/err2.txt"; echo $?)

# The main job: a console run over .doc files with two threads: every document is one
# log line, the damaged one fails readably, the run ends with 0 and one error report.
if [ -n "${LUMI_CORPUS:-}" ]; then
  in=$(cd "$LUMI_CORPUS" && pwd) damaged=badfile-01-bad-header.doc window_docs=test0*.docx
else
  in="$work/made" damaged=cut.doc window_docs=*.docx
  make_documents "$in" || exit 1
  head -c 921 "$in/two.doc" > "$in/$damaged"  # its header whole, its streams cut off
fi
cp "$(dirname "$exe")/batchpng.so" "$work/app/mypngtool.so"
before=$(wc -l < "$work/opened.txt")
"$work/app/mypngtool" "-P:PureConsole=1,Source=$in/*.doc,Target=$work/main-out/,ThreadsCount=2,LogFile=$work/main.log"
check "main job exits 0" $?
docs=$(ls "$in"/*.doc | wc -l)
check "one log line per document" $([ "$(grep -c ' => ' "$work/main.log")" = "$docs" ]; echo $?)
check "log lines end with CR LF" $([ "$(grep -c $'\r$' "$work/main.log")" = "$docs" ]; echo $?)
check "the damaged document fails readably" $(grep -q "^Failure => .*$damaged => The file is damaged or is not a supported document" "$work/main.log"; echo $?)
check "all others succeed" $([ "$(grep -c '^Success => ' "$work/main.log")" = $((docs - 1)) ]; echo $?)
check "pages were written" $([ "$(ls "$work/main-out" | grep -c -- '-01.png$')" = $((docs - 1)) ]; echo $?)
wait_opened $((before + 1))
check "one error report" $([ "$(tail -n +$((before + 1)) "$work/opened.txt" | grep -c 'a=err&e=')" = 1 ]; echo $?)
check "no office left" $([ -z "$(offices_left)" ]; echo $?)

# The same job unattended in the window (offscreen): it runs once, writes the
# list export and closes by itself.
QT_QPA_PLATFORM=offscreen timeout 300 "$work/app/mypngtool" \
  "-P:RunAndClose=1,Source=$in/$window_docs,Target=$work/window-out/,ThreadsCount=2,LogFile=$work/window.log" \
  >/dev/null 2>&1
check "window run closes by itself with 0" $?
docs=$(ls "$in"/$window_docs | wc -l)
check "window run exports every row" $([ "$(grep -c '^\[Success\] => ' "$work/window.log")" = "$docs" ]; echo $?)
check "window run wrote the pages" $([ "$(ls "$work/window-out" | grep -c -- '-01.png$')" = "$docs" ]; echo $?)
check "no office left after the window run" $([ -z "$(offices_left)" ]; echo $?)
check "no office folder left" $([ -z "$(ls "$TMPDIR" | grep lumipix-office-)" ]; echo $?)

echo "$passes passed, $fails failed"
[ "$fails" = 0 ]
