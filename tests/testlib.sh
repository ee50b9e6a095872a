#!/usr/bin/env bash
# What the test scripts share; sourced by them, or run as `bash tests/testlib.sh FOLDER`
# to make the test documents (make_documents) into FOLDER.

# check NAME STATUS: counts a check that passed (STATUS 0) or failed, and names a failed one.
fails=0; passes=0
check() { if [ "$2" = 0 ]; then passes=$((passes+1)); else fails=$((fails+1)); echo "FAIL: $1"; fi; }

# The offices a run started: those that keep their profile in its TMPDIR.
offices_left() { pgrep -f "soffice.bin.*UserInstallation=file://$TMPDIR/" || true; }

# need_corpus FOLDER: a test that needs the real documents of the corpus ends here, as
# skipped (exit 77, its SKIP_RETURN_CODE) with the reason, when they are not there; it
# never goes on to pass on missing input.
need_corpus() {
  if [ ! -f "$1/pages.tsv" ]; then
    echo "SKIP: needs the document corpus, which is not at $1 (../shared/corpus beside the project)"
    exit 77
  fi
}

# make_documents FOLDER: LibreOffice turns HTML written here into one.doc, two.doc,
# three.doc and the same as .docx, with that many A4 pages each, so that a clone
# without the corpus still tests the main job on real Word files. Damaged ones are
# cut from these by the tests that want them.
make_documents() {
  local dir=$1 names=(one two three) work n page name filter
  work=$(mktemp -d)
  mkdir -p "$dir"
  for n in 1 2 3; do
    name=${names[n - 1]}
    {
      printf '<!DOCTYPE html>\n<html><head><meta charset="utf-8"><title>%s</title>' "$name"
      printf '<style>@page { size: 210mm 297mm; } body { font-family: "Liberation Serif"; }</style></head><body>\n'
      for page in $(seq "$n"); do
        [ "$page" = 1 ] && printf '<h1>' || printf '<h1 style="page-break-before: always">'
        printf 'Page %s of %s</h1>\n<p>Made by the tests: Grüße, ¿qué tal? Every page of it becomes one image.</p>\n' "$page" "$n"
        printf '<table border="1" cellpadding="4"><tr><th>Page</th><th>Of</th></tr><tr><td>%s</td><td>%s</td></tr></table>\n' "$page" "$n"
        printf '<ul><li>a list item</li><li>another one</li></ul>\n'
      done
      printf '</body></html>\n'
    } > "$work/$name.html"
  done
  for filter in 'docx:MS Word 2007 XML' 'doc:MS Word 97'; do
    soffice -env:UserInstallation="file://$work/profile" --headless --convert-to "$filter" --outdir "$dir" \
      "$work"/*.html > "$work/soffice.log" 2>&1
  done
  for name in "${names[@]}"; do
    if [ ! -s "$dir/$name.doc" ] || [ ! -s "$dir/$name.docx" ]; then
      echo "LibreOffice did not make the test documents in $dir:" >&2
      cat "$work/soffice.log" >&2
      rm -rf "$work"
      return 1
    fi
  done
  rm -rf "$work"
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  set -eu
  make_documents "$1"
fi
