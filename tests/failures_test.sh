#!/usr/bin/env bash
# The real program reports what it could not convert, never a page of something else:
# a .docx or .doc cut short fails as damaged, and a web address where nothing answers
# fails, in a console run, with a message that names the address. The documents are
# made here, so that this runs without the corpus.
set -u
exe="$1"
source "$(dirname "$0")/testlib.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/tmp" "$work/in" "$work/fakebin"
export TMPDIR="$work/tmp"
unset XDG_RUNTIME_DIR
printf '#!/bin/sh\nexit 0\n' > "$work/fakebin/xdg-open"  # the error report opens no browser
chmod +x "$work/fakebin/xdg-open"
export PATH="$work/fakebin:$PATH"

make_documents "$work/made" || exit 1
for n in 100 512; do head -c $n "$work/made/two.docx" > "$work/in/cut$n.docx"; done
head -c 921 "$work/made/two.doc" > "$work/in/cut921.doc"  # its header whole, its streams cut off
"$exe" "-P:PureConsole=1,Source=$work/in/*.doc?,Target=$work/out/,LogFile=$work/cut.log"
check "the run over cut documents exits 0" $?
for cut in cut100.docx cut512.docx cut921.doc; do
  check "$cut fails as damaged" \
    $(grep -q "^Failure => .*$cut => The file is damaged or is not a supported document" "$work/cut.log"; echo $?)
done
check "no page was written for them" $([ -z "$(ls "$work/out" 2>/dev/null)" ]; echo $?)

# Port 9 (discard) has nothing listening here.
address="http://127.0.0.1:9/a.doc"
timeout 300 "$exe" "-P:PureConsole=1,Source=$address,Target=$work/web/,LogFile=$work/web.log" > /dev/null 2>&1
check "the console run exits 0" $?
check "the unreachable address fails and is named" \
  $(grep -qF "Failure => $address => The web address $address cannot be reached: no connection to 127.0.0.1:9" "$work/web.log"; echo $?)
check "no page was written for it" $([ -z "$(ls "$work/web" 2>/dev/null)" ]; echo $?)
check "no office left" $([ -z "$(offices_left)" ]; echo $?)

echo "$passes passed, $fails failed"
[ "$fails" = 0 ]
