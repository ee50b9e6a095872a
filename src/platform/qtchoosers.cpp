#include "platform/qtchoosers.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QSettings>

#include "platform/paths.h"
#include "platform/text.h"

namespace kx {

static QString Q(const std::string& s) { return QString::fromStdString(s); }

static QStringList NameFilters(const std::string& filter) {
  return Q(ConvertFilter(filter)).split(";;", Qt::SkipEmptyParts);
}

// Each kind of chooser ("Folder", "Open", "Save") opens where it was last confirmed,
// kept in the desktop's settings store under the application's name.
static QString SettingsKey(const char* kind) { return QString("Choosers/") + kind; }

static void RememberFolder(const char* kind, const QString& folder) {
  QSettings settings;
  settings.setValue(SettingsKey(kind), folder);
}

// `wanted` when it is a folder; else where this kind of chooser was last confirmed;
// else the user's home folder (never the working folder the program was started in).
static QString StartFolder(const char* kind, const std::string& wanted) {
  if (!wanted.empty() && QDir(Q(wanted)).exists()) return Q(wanted);
  QString last = QSettings().value(SettingsKey(kind)).toString();
  if (!last.isEmpty() && QDir(last).exists()) return last;
  return QDir::homePath();
}

std::string TkxQtChoosers::BrowseFolder(const std::string& initial) {
  QString chosen = QFileDialog::getExistingDirectory(QApplication::activeWindow(), QString(),
                                                     StartFolder("Folder", initial), QFileDialog::ShowDirsOnly);
  if (chosen.isEmpty()) return initial;
  RememberFolder("Folder", chosen);
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
  dlg.setDirectory(StartFolder("Open", ExtractFilePath(initial)));
  if (!initial.empty()) {
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
  RememberFolder("Open", dlg.directory().absolutePath());
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
  dlg.setDirectory(StartFolder("Save", ExtractFilePath(path)));
  if (!path.empty()) dlg.selectFile(Q(ExtractFileName(path)));
  // Replacing an existing file is confirmed by the dialog itself.
  if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return false;
  path = dlg.selectedFiles().first().toStdString();
  RememberFolder("Save", Q(ExtractFilePath(path)));
  return true;
}

}  // namespace kx
