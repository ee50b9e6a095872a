#!/usr/bin/env bash
# The real program run by a plain account (uid 65534, dropped to with setpriv), as on
# a machine where people log in with their own accounts: the corpus as it is
# (read-only, owned by another user), a read-only folder of the user's own read-only
# documents with and without a home folder, with "ReadOnly" on and off and TMPDIR
# elsewhere; a document the account may not read fails with that reason.
set -u
exe="$1"
source "$(dirname "$0")/testlib.sh"
need_corpus "$2"
corpus=$(cd "$2" && pwd)
if [ "$(id -u)" != 0 ] || ! command -v setpriv > /dev/null; then
  echo "SKIP: dropping to another account needs root and setpriv"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
# The program where the account may run it, and a folder of the account's own.
mkdir "$work/app"
cp "$exe" "$(dirname "$exe")/batchpng.so" "$work/app/"
mkdir -p "$work/u/home" "$work/u/fakebin" "$work/u/tmp"
printf '#!/bin/sh\nexit 0\n' > "$work/u/fakebin/xdg-open"
chmod 755 "$work/u/fakebin/xdg-open"
chown -R 65534:65534 "$work/u"
u="$work/u"
as_user() {  # environment assignments..., then the program's options
  local env=()
  while [ $# -gt 1 ]; do env+=("$1"); shift; done
  setpriv --reuid=65534 --regid=65534 --clear-groups \
    env -i PATH="$u/fakebin:/usr/bin:/bin" "${env[@]}" "$work/app/batchpng" "$1" > "$work/last.txt" 2>&1 &
  local pid=$!
  wait $pid
  local code=$?
  # Nothing of the run's offices stays: no process, no folder, no pipe socket.
  local left
  left=$(pgrep -f "soffice.bin.*lumipix-office-$pid-" || true)
  left+=$(ls -d /tmp/lumipix-office-"$pid"-* "$u"/tmp/lumipix-office-"$pid"-* /tmp/OSL_PIPE_*_lumipix-"$pid"-* 2>/dev/null)
  [ -z "$left" ] || echo "left behind: $left"
  [ "$code" = 0 ] && [ -z "$left" ]
}
# Page files written per document: "<name> <count>" lines of a target folder.
pages_of() { ls "$1" | sed 's|-[0-9]*\.png$||' | sort | uniq -c | awk '{print $2, $1}'; }
expected_pages() {  # extension: "<name> <pages>" of the documents that open
  awk -F'\t' -v ext="$1" 'NR > 1 && $2 != "fail" && $1 ~ "\\." ext "$" {sub("\\." ext "$", "", $1); print $1, $2}' \
    "$corpus/pages.tsv" | sort
}

# The corpus as it is: mode 0444, owned by root, in a read-only folder; two threads.
for ext in doc docx; do
  as_user HOME="$u/home" "-P:PureConsole=1,Source=$corpus/*.$ext,Target=$u/corpus-$ext/,ThreadsCount=2,LogFile=$u/corpus-$ext.log"
  check "corpus *.$ext run as a plain user ends cleanly" $?
  diff <(pages_of "$u/corpus-$ext") <(expected_pages "$ext") > "$work/diff.txt"
  check "every openable *.$ext document has its pages ($(head -c 300 "$work/diff.txt"))" $?
done
check "the damaged document fails as damaged" \
  $(grep -q '^Failure => .*badfile-01-bad-header.doc => The file is damaged or is not a supported document' "$u/corpus-doc.log"; echo $?)
check "every other document succeeds" $([ "$(grep -c '^Failure' "$u/corpus-doc.log" "$u/corpus-docx.log" | awk -F: '{s+=$2} END {print s}')" = 1 ]; echo $?)

# The account's own read-only documents in its read-only folder.
mkdir "$u/ro"
cp "$corpus/test04.docx" "$corpus/test07.doc" "$u/ro/"
chown -R 65534:65534 "$u/ro"
chmod 444 "$u/ro"/*
chmod 555 "$u/ro"
for run in "no home:ReadOnly=0" "home not writable:ReadOnly=1" "TMPDIR elsewhere:ReadOnly=0"; do
  what=${run%%:*}
  case "$what" in
    "no home") env=() ;;
    "home not writable") env=(HOME=/) ;;
    *) env=(HOME="$u/home" TMPDIR="$u/tmp") ;;
  esac
  out="$u/ro-out-${what// /-}"
  as_user "${env[@]}" "-P:PureConsole=1,Source=$u/ro/*.doc?,Target=$out/,${run#*:},LogFile=$out.log"
  check "read-only folder, $what, ${run#*:}: the run ends cleanly" $?
  check "read-only folder, $what, ${run#*:}: both convert" \
    $([ "$(pages_of "$out" | tr '\n' ' ')" = "test04 2 test07 3 " ]; echo $?)
done

# What the account may not read fails with that reason, never as damaged.
mkdir "$work/closed"
chmod 755 "$work/closed"
cp "$corpus/test01.doc" "$work/closed/secret.doc"
chmod 600 "$work/closed/secret.doc"
as_user HOME="$u/home" "-P:PureConsole=1,Source=$work/closed/*.doc,Target=$u/closed-out/,LogFile=$u/closed.log"
check "the run over an unreadable document ends cleanly" $?
check "an unreadable document says so" \
  $(grep -q '^Failure => .*secret.doc => The file may not be read with this account (permission denied)' "$u/closed.log"; echo $?)

# An account without an entry in the user database (a container's arbitrary uid): its
# offices' pipes are still its own. LibreOffice would name them without the uid and
# open them to everyone; another account must not be able to connect to any of them.
. "$(dirname "$0")/documents.sh"
# A uid of its own: no entry, and no process of another run using it on this machine.
nouid=$((43210 + $$ % 20000))
while getent passwd "$nouid" > /dev/null || getent group "$nouid" > /dev/null || pgrep -u "$nouid" > /dev/null; do
  nouid=$((nouid + 1))
done
n="$work/n"
mkdir -p "$n/in" "$n/out"
if make_documents "$work/docs" long:30; then
  cp "$work/docs/long.doc" "$work/docs/long.docx" "$n/in/"
  chown -R "$nouid:$nouid" "$n"
  connects() {  # uid socket: whether that uid can connect to the socket
    setpriv --reuid="$1" --regid="$1" --clear-groups \
      perl -MIO::Socket::UNIX -e 'exit(IO::Socket::UNIX->new(Peer => $ARGV[0]) ? 0 : 1)' "$2" 2> /dev/null
  }
  setpriv --reuid=$nouid --regid=$nouid --clear-groups env -i HOME="$n" PATH=/usr/bin:/bin \
    "$work/app/batchpng" "-P:PureConsole=1,Source=$n/in/*.doc?,Target=$n/out/,ThreadsCount=2" > "$work/nouid.txt" 2>&1 &
  pid=$!
  seen=""; open=""; live=""
  while kill -0 $pid 2> /dev/null; do
    for sock in $(find /tmp /var/tmp -maxdepth 1 -type s -user $nouid -name 'OSL_PIPE_*' 2> /dev/null); do
      case " $seen " in *" $sock "*) continue ;; esac
      seen="$seen $sock"
      connects 65534 "$sock" && open="$open $sock"
      connects $nouid "$sock" && live="$live $sock"
    done
    sleep 0.1
  done
  wait $pid
  check "no passwd entry: the run ends cleanly ($(tail -n 1 "$work/nouid.txt"))" $?
  check "no passwd entry: both documents converted" $([ "$(ls "$n/out" | wc -l)" = 60 ]; echo $?)
  check "no passwd entry: the offices' pipes carry the uid ($seen)" \
    $([ -n "$seen" ] && ! echo "$seen" | grep -q "OSL_PIPE_[^0-9]"; echo $?)
  check "no passwd entry: the account itself reaches its pipes ($live)" $([ -n "$live" ]; echo $?)
  check "no passwd entry: no other account can connect to any of them ($open)" $([ -z "$open" ]; echo $?)
else
  echo "SKIP: no passwd entry (LibreOffice cannot make the test documents)"
fi

echo "$passes passed, $fails failed"
[ "$fails" = 0 ]
