#!/usr/bin/env bash
# The real program interrupted: a console run over many documents with two threads
# ends soon after SIGINT (exit 130) or SIGTERM (143), its run log lists exactly the
# documents that finished and names those it did not reach, its summary says it was
# interrupted, and no office survives it; a second signal ends at once.
set -u
exe="$1"
source "$(dirname "$0")/testlib.sh"
need_corpus "$2"
corpus=$(cd "$2" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The offices of this run keep their folders here, so that only they are looked for.
mkdir "$work/tmp"
export TMPDIR="$work/tmp"
unset XDG_RUNTIME_DIR
mkdir -p "$work/in" "$work/fakebin"
printf '#!/bin/sh\nexit 0\n' > "$work/fakebin/xdg-open"; chmod +x "$work/fakebin/xdg-open"
export PATH="$work/fakebin:$PATH"
n=0
for round in 1 2 3; do for f in "$corpus"/*.docx; do n=$((n+1)); ln -s "$f" "$work/in/doc$n.docx"; done; done

run() {  # signal, seconds before it, second signal after (or empty), out folder
  local out="$work/$4"
  "$exe" "-P:PureConsole=1,Source=$work/in/*.docx,Target=$out/,ThreadsCount=2,LogFile=$out.log" 2> "$out.err" &
  local pid=$!
  echo "$pid" >> "$work/pids"
  sleep "$2"
  local t0=$(date +%s.%N)
  kill -"$1" $pid
  [ -n "$3" ] && { sleep "$3"; kill -"$1" $pid; }
  wait $pid; local code=$?
  local t1=$(date +%s.%N)
  echo "$code $(echo "$t1 - $t0" | bc -l)"
}

read code took < <(run INT 4 "" a)
check "SIGINT exits 130 (got $code)" $([ "$code" = 130 ]; echo $?)
check "ends within a few seconds (took $took s)" $([ "$(echo "$took < 15" | bc)" = 1 ]; echo $?)
lines=$(grep -cE '^(Success|Failure) => ' "$work/a.log")
check "some but not all documents finished ($lines of $n)" $([ "$lines" -gt 0 ] && [ "$lines" -lt "$n" ]; echo $?)
left=$(grep -c '^Running => .* => not converted: the run was interrupted before it' "$work/a.log")
check "the log names every document not reached ($left)" $([ $((lines + left)) = "$n" ]; echo $?)
check "the summary says it was interrupted and counts them" \
  $(grep -qE "^Lumipix Converter: interrupted: $n documents: .*, $left not reached;" "$work/a.err"; echo $?)
check "the documents not reached are named" $(grep -q '^not reached: ' "$work/a.err"; echo $?)
finished=$(grep '^Success => ' "$work/a.log" | sed 's|.*/\(doc[0-9]*\)\.docx => .*|\1|' | sort)
written=$(ls "$work/a" | sed 's|-[0-9]*\.png$||' | sort -u)
check "the log lists exactly the documents whose pages were written" $([ "$finished" = "$written" ]; echo $?)
check "no office left after SIGINT" $([ -z "$(offices_left)" ]; echo $?)

read code took < <(run TERM 4 "" b)
check "SIGTERM exits 143 (got $code)" $([ "$code" = 143 ]; echo $?)
check "no office left after SIGTERM" $([ -z "$(offices_left)" ]; echo $?)

read code took < <(run INT 4 0.3 c)
check "a second signal ends at once (exit $code after $took s)" $([ "$code" = 130 ] && [ "$(echo "$took < 3" | bc)" = 1 ]; echo $?)
sleep 0.5
check "no office left after a second signal" $([ -z "$(offices_left)" ]; echo $?)
check "no office folder left" $([ -z "$(ls -d "$TMPDIR"/lumipix-office-* 2>/dev/null)" ]; echo $?)
sockets=""
for pid in $(cat "$work/pids"); do sockets+=$(ls -d /tmp/OSL_PIPE_*_lumipix-"$pid"-* 2>/dev/null); done
check "no pipe socket left [$sockets]" $([ -z "$sockets" ]; echo $?)

echo "$passes passed, $fails failed"
[ "$fails" = 0 ]
