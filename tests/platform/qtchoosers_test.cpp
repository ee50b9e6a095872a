// The Qt choosers, driven while their dialogs are up; and the message loop's
// handler of unexpected errors.
#include <QFileDialog>
#include <QLineEdit>
#include <QTest>

#include "core/project.h"
#include "platform/qtchoosers.h"
#include "ui/info.h"
#include "ui/uitest.h"

using namespace uitest;

namespace {
QFileDialog* Dialog(QWidget* modal) {
  auto* d = qobject_cast<QFileDialog*>(modal);
  if (!d) qFatal("the modal window is no file dialog");
  return d;
}
QString Q(const std::string& s) { return QString::fromStdString(s); }
}  // namespace

class QtChoosersTest : public QObject {
  Q_OBJECT
 private slots:
  void openFilesWithAWildcardName() {
    kxtest::TempDir d;
    for (const char* f : {"a.doc", "b.docx", "c.txt"}) kxtest::WriteFile(d / f, "x");
    kx::TkxQtChoosers c;
    std::string path = d / "*.doc?";
    QStringList filters;
    QString folder;
    WhenModal([&](QWidget* m) {
      QFileDialog* dlg = Dialog(m);
      filters = dlg->nameFilters();
      folder = dlg->directory().absolutePath();
      QCOMPARE(dlg->fileMode(), QFileDialog::ExistingFiles);
      dlg->findChild<QLineEdit*>("fileNameEdit")->setText("\"a.doc\" \"b.docx\"");
      static_cast<QDialog*>(dlg)->accept();
    });
    QVERIFY(c.PromptOpenFile("Word Document (*.doc;*.docx)|*.doc;*.docx", path, true));
    QCOMPARE(filters, QStringList({"*.doc*", "Word Document (*.doc *.docx)"}));  // "?" shown as "*"
    QCOMPARE(folder + "/", Q(d.Path()));
    QCOMPARE(path, d / "a.doc\r\n" + d / "b.docx\r\n");
  }

  void cancelledChoosersChangeNothing() {
    kxtest::TempDir d;
    kx::TkxQtChoosers c;
    std::string path = d / "x.doc";
    WhenModal([](QWidget* m) { Dialog(m)->reject(); });
    QVERIFY(!c.PromptOpenFile("All|*", path, false));
    QCOMPARE(path, d / "x.doc");
    WhenModal([](QWidget* m) { Dialog(m)->reject(); });
    QVERIFY(!c.PromptSaveFile("Log File|*.log", ".log", path));
    QCOMPARE(path, d / "x.doc");
    WhenModal([](QWidget* m) { Dialog(m)->reject(); });
    QCOMPARE(c.BrowseFolder(d.Path()), d.Path());
  }

  void saveAddsTheDefaultExtension() {
    kxtest::TempDir d;
    kx::TkxQtChoosers c;
    std::string path = d / "old.batch-lumipix";
    QString suffix;
    WhenModal([&](QWidget* m) {
      QFileDialog* dlg = Dialog(m);
      suffix = dlg->defaultSuffix();
      QCOMPARE(dlg->acceptMode(), QFileDialog::AcceptSave);
      dlg->findChild<QLineEdit*>("fileNameEdit")->setText("job");
      static_cast<QDialog*>(dlg)->accept();
    });
    QVERIFY(c.PromptSaveFile("Lumipix Project|*.batch-lumipix", ".batch-lumipix", path));
    QCOMPARE(suffix, QString("batch-lumipix"));
    QCOMPARE(path, d / "job.batch-lumipix");
  }

  void folderWithoutTrailingDelimiter() {
    kxtest::TempDir d;
    kxtest::MakeDir(d / "in");
    kx::TkxQtChoosers c;
    WhenModal([&](QWidget* m) {
      QFileDialog* dlg = Dialog(m);
      QCOMPARE(dlg->directory().absolutePath() + "/", Q(d.Path()));
      dlg->findChild<QLineEdit*>("fileNameEdit")->setText("in");
      static_cast<QDialog*>(dlg)->accept();
    });
    QCOMPARE(c.BrowseFolder(d.Path()), d / "in");
  }

  void errorsOfTheMessageLoopAreReportedNotShown() {
    Scope s;
    kx::TkxFrmMain& w = s.Open();
    kxtest::WriteFile(s.Dir() / "blocker", "x");
    s.Choosers.Saves.push_back(s.Dir() / "blocker/list.log");  // a file where a folder should be
    QMetaObject::invokeMethod(
        &w, [&w] { w.aExportListExecute(); }, Qt::QueuedConnection);
    QVERIFY(WaitOpened(1));
    QCOMPARE(static_cast<kx::TkxInfo*>(kx::Info)->StoredValue("E"), std::string("1"));
    QVERIFY(Opened()[0].find("a=err&e=") != std::string::npos);
    QVERIFY(QApplication::activeModalWidget() == nullptr);  // no message box
  }
};

UI_TEST_CLASS(QtChoosersTest);
#include "qtchoosers_test.moc"
