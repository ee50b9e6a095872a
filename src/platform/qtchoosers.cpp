#include "platform/qtchoosers.h"

#include <QApplication>
#include <QFileDialog>

#include "platform/paths.h"
#include "platform/text.h"

namespace kx {

static QString Q(const std::string& s) { return QString::fromStdString(s); }

static QStringList NameFilters(const std::string& filter) {
  return Q(ConvertFilter(filter)).split(";;", Qt::SkipEmptyParts);
}

std::string TkxQtChoosers::BrowseFolder(const std::string& initial) {
  QString chosen =
      QFileDialog::getExistingDirectory(QApplication::activeWindow(), QString(), Q(initial), QFileDialog::ShowDirsOnly);
  if (chosen.isEmpty()) return initial;
  std::string r = chosen.toStdString();
  while (r.size() > 1 && r.back() == '/') r.pop_back();
  return r;
}

bool TkxQtChoosers::PromptOpenFile(const std::string& filter, std::string& path, bool multiple) {
  QFileDialog dlg(QApplication::activeWindow());
  dlg.setAcceptMode(QFileDialog::AcceptOpen);
  dlg.setFileMode(multiple ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
  QStringList filters = NameFilters(filter);
  std::string initial = ReplaceAll(path, "?", "*");
  if (!initial.empty()) {
    dlg.setDirectory(Q(ExtractFilePath(initial)));
    std::string name = ExtractFileName(initial);
    // A wildcard name shows the folder filtered by it, as the name box would.
    if (name.find('*') != std::string::npos)
      filters.prepend(Q(name));
    else if (!name.empty())
      dlg.selectFile(Q(name));
  }
  dlg.setNameFilters(filters);
  if (dlg.exec() != QDialog::Accepted) return false;
  QStringList files = dlg.selectedFiles();
  if (files.isEmpty()) return false;
  if (!multiple) {
    path = files.first().toStdString();
    return true;
  }
  std::string r;
  for (const QString& f : files) r += f.toStdString() + "\r\n";
  path = r;
  return true;
}

bool TkxQtChoosers::PromptSaveFile(const std::string& filter, const std::string& defaultExt, std::string& path) {
  QFileDialog dlg(QApplication::activeWindow());
  dlg.setAcceptMode(QFileDialog::AcceptSave);
  dlg.setFileMode(QFileDialog::AnyFile);
  dlg.setNameFilters(NameFilters(filter));
  std::string ext = defaultExt;
  if (!ext.empty() && ext[0] == '.') ext.erase(0, 1);
  dlg.setDefaultSuffix(Q(ext));
  if (!path.empty()) {
    dlg.setDirectory(Q(ExtractFilePath(path)));
    dlg.selectFile(Q(ExtractFileName(path)));
  }
  // Replacing an existing file is confirmed by the dialog itself.
  if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return false;
  path = dlg.selectedFiles().first().toStdString();
  return true;
}

}  // namespace kx
