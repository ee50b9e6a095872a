#include "ui/resultrow.h"

#include "platform/paths.h"

namespace kx {

namespace {

// Letter case aside, character by character; a run of digits against a run of
// digits by the number it writes, so "page9" comes before "page10".
int CompareText(const QString& a, const QString& b) {
  qsizetype i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (a[i].isDigit() && b[j].isDigit()) {
      qsizetype ei = i, ej = j;
      while (ei < a.size() && a[ei].isDigit()) ++ei;
      while (ej < b.size() && b[ej].isDigit()) ++ej;
      QStringView da = QStringView(a).mid(i, ei - i), db = QStringView(b).mid(j, ej - j);
      while (da.size() > 1 && da[0] == u'0') da = da.mid(1);
      while (db.size() > 1 && db[0] == u'0') db = db.mid(1);
      if (da.size() != db.size()) return da.size() < db.size() ? -1 : 1;
      if (int c = da.compare(db)) return c;
      i = ei;
      j = ej;
      continue;
    }
    QChar ca = a[i].toCaseFolded(), cb = b[j].toCaseFolded();
    if (ca != cb) return ca < cb ? -1 : 1;
    ++i;
    ++j;
  }
  if (i < a.size() || j < b.size()) return i < a.size() ? 1 : -1;
  return a.compare(b);  // only letter case or leading zeros differ
}
}  // namespace

TkxResultRow::TkxResultRow(int itemIndex, const std::string& fileName)
    : QTreeWidgetItem(UserType), FItemIndex(itemIndex), FFileName(fileName) {
  QString name = QString::fromStdString(DisplayPath(fileName));
  setText(1, name);
  setToolTip(1, name);
  setData(0, Qt::UserRole, TkxNode::Running);
  setToolTip(0, StatusWord(TkxNode::Running));
}

int TkxResultRow::Status() const { return data(0, Qt::UserRole).toInt(); }

void TkxResultRow::SetResult(int status, const std::string& resultText, const std::string& pagePattern,
                             const QIcon& image) {
  FResultText = resultText;
  FPagePattern = pagePattern;
  QString result = QString::fromStdString(resultText);
  setText(2, result);
  setToolTip(2, result);
  setIcon(0, image);
  setData(0, Qt::UserRole, status);
  setToolTip(0, StatusWord(status));
}

bool TkxResultRow::operator<(const QTreeWidgetItem& other) const {
  const TkxResultRow* o = ResultRow(&other);
  if (!o) return QTreeWidgetItem::operator<(other);
  // A row being inserted is not in the view yet: the other one knows the sort column.
  const QTreeWidget* view = treeWidget() ? treeWidget() : other.treeWidget();
  int column = view ? view->sortColumn() : -1;
  int c = 0;
  if (column == 0)
    c = Status() - o->Status();
  else if (column > 0)
    c = CompareText(text(column), o->text(column));
  return c != 0 ? c < 0 : FItemIndex < o->FItemIndex;
}

TkxResultRow* ResultRow(QTreeWidgetItem* item) {
  return item && item->type() == QTreeWidgetItem::UserType ? static_cast<TkxResultRow*>(item) : nullptr;
}

const TkxResultRow* ResultRow(const QTreeWidgetItem* item) {
  return item && item->type() == QTreeWidgetItem::UserType ? static_cast<const TkxResultRow*>(item) : nullptr;
}

}  // namespace kx
