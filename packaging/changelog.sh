#!/bin/sh
# Writes the package's changelog, in Debian's format, from the project's release notes:
#   changelog.sh RELEASE-NOTES PACKAGE "Maintainer Name <mail>" OUT
# A release in the notes is "## VERSION (YYYY-MM-DD)" followed by "- " items, continued on
# lines indented by two spaces; anything before the first release is the notes' preface.
set -eu
notes=$1 package=$2 maintainer=$3 out=$4
awk -v package="$package" -v maintainer="$maintainer" '
  function close_release() {
    if (version == "") return
    cmd = "LC_ALL=C date -u -R -d " day " 2>/dev/null"
    stamp = ""
    cmd | getline stamp
    close(cmd)
    if (stamp == "") { print "changelog.sh: " FILENAME ": bad date " day > "/dev/stderr"; failed = 1; exit 1 }
    printf "\n -- %s  %s\n", maintainer, stamp
  }
  /^## / {
    close_release()
    if (!match($0, /^## [0-9][0-9A-Za-z.+~-]* \([0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]\)$/)) {
      print "changelog.sh: " FILENAME ":" NR ": not \"## VERSION (YYYY-MM-DD)\": " $0 > "/dev/stderr"; failed = 1; exit 1
    }
    version = $2
    day = substr($3, 2, 10)
    if (releases++) print ""
    printf "%s (%s) unstable; urgency=medium\n\n", package, version
    next
  }
  version == "" { next }
  /^- / { print "  * " substr($0, 3); next }
  /^  [^ ]/ { print "    " substr($0, 3); next }
  /^[ \t]*$/ { next }
  { print "changelog.sh: " FILENAME ":" NR ": not an item: " $0 > "/dev/stderr"; failed = 1; exit 1 }
  END {
    if (failed) exit 1
    if (!releases) { print "changelog.sh: " FILENAME ": no release" > "/dev/stderr"; exit 1 }
    close_release()
  }
' "$notes" > "$out.tmp"
mv "$out.tmp" "$out"
