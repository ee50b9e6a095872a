# Documents the tests make themselves, sourced by the test scripts.
# make_documents FOLDER NAME:PAGES...: writes FOLDER/NAME.doc and FOLDER/NAME.docx for
# each NAME, with PAGES pages whose text names the document and the page, so that no
# two documents have a page alike. LibreOffice turns HTML into both formats (one
# private profile, removed afterwards). Returns non-zero when LibreOffice cannot.
make_documents() {
  local folder="$1"
  shift
  local html="$folder/.html"
  mkdir -p "$html"
  local spec name pages p
  for spec in "$@"; do
    name=${spec%%:*}
    pages=${spec#*:}
    {
      printf '<!DOCTYPE html><html><head><meta charset="utf-8"><title>%s</title></head><body>\n' "$name"
      for p in $(seq "$pages"); do
        [ "$p" = 1 ] && printf '<h1>%s</h1>\n' "$name" || printf '<p style="page-break-before: always"></p>\n'
        printf '<p>Document <b>%s</b>, page %s of %s.</p>\n' "$name" "$p" "$pages"
      done
      printf '</body></html>\n'
    } > "$html/$name.html"
  done
  local profile="$folder/.profile"
  soffice -env:UserInstallation="file://$profile" --headless --convert-to 'doc:MS Word 97' --outdir "$folder" \
    "$html"/*.html > /dev/null 2>&1 &&
    soffice -env:UserInstallation="file://$profile" --headless --convert-to 'docx:MS Word 2007 XML' \
      --outdir "$folder" "$html"/*.html > /dev/null 2>&1
  local rc=$?
  rm -rf "$html" "$profile"
  for spec in "$@"; do
    [ -s "$folder/${spec%%:*}.doc" ] && [ -s "$folder/${spec%%:*}.docx" ] || rc=1
  done
  return $rc
}

# page_sums FOLDER: "<name> <md5>" of every file of a folder (sub-folders included), sorted.
page_sums() {
  (cd "$1" && find . -type f -printf '%P\n' | sort | while IFS= read -r f; do echo "$f $(md5sum < "$f" | cut -d' ' -f1)"; done)
}
