#!/bin/sh
# Copies LibreOffice's PDF IN to OUT with what differs from one export to the next made to
# follow the document instead: the creation time becomes SOURCE_DATE_EPOCH (when set) and
# the file identity and checksum the MD5 sum of the content. Every replacement keeps its
# length, so the cross-reference offsets stay right.
#   pdfstamp.sh IN OUT
set -eu
in=$1 out=$2
tmp="$out.tmp"
if [ -n "${SOURCE_DATE_EPOCH:-}" ]; then
  stamp=$(date -u -d "@$SOURCE_DATE_EPOCH" +%Y%m%d%H%M%S)
else
  stamp=
fi
# The identity and checksum: first zeros, then the sum of the file with the zeros.
stamped() {  # the value for both
  STAMP=$stamp VALUE=$1 perl -0777 -pe '
    s{(/CreationDate\(D:)\d{14}}{$1$ENV{STAMP}}g if $ENV{STAMP} ne "";
    s{(/ID \[\s*<)[0-9A-Fa-f]{32}(>\s*<)[0-9A-Fa-f]{32}>}{$1$ENV{VALUE}$2$ENV{VALUE}>}g;
    s{(/DocChecksum /)[0-9A-Fa-f]{32}}{$1$ENV{VALUE}}g;
  ' "$in"
}
stamped 00000000000000000000000000000000 > "$tmp"
sum=$(md5sum < "$tmp" | cut -c1-32 | tr a-f A-F)
stamped "$sum" > "$tmp"
mv "$tmp" "$out"
