// The main window on a real X server (Xvfb, started by xvfb_run.sh), driven by
// xdotool: clicks and keys go through the server as a person's do.
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QMessageBox>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>

#include "core/project.h"
#include "platform/paths.h"
#include "platform/qtchoosers.h"
#include "ui/images.h"
#include "ui/kxFormPreview.h"
#include "ui/resultrow.h"
#include "uitest.h"

using kx::Project;
using kx::TkxFrmMain;
using namespace uitest;

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

// Runs xdotool, serving events until it has ended; returns what it printed.
QByteArray Xdo(const QStringList& args) {
  QProcess p;
  p.start("xdotool", args);
  QDeadlineTimer t(10000);
  while (p.state() != QProcess::NotRunning && !t.hasExpired()) QTest::qWait(5);
  if (p.exitCode() != 0) qWarning() << "xdotool" << args << p.readAllStandardError();
  return p.readAllStandardOutput();
}

// The pointer goes to `at` in `w` (its middle by default); the left button goes down and up.
void Click(QWidget* w, QPoint at = QPoint()) {
  QPoint g = w->mapToGlobal(at.isNull() ? w->rect().center() : at) * w->devicePixelRatio();
  // From elsewhere: a window that opened under a resting pointer learns of it by the move.
  Xdo({"mousemove", "--sync", "0", "0", "mousemove", "--sync", QString::number(g.x()), QString::number(g.y()), "click",
       "1"});
}
// To the window with the focus: keys as xdotool names them ("ctrl+q"), or text.
void Key(const QString& keys) { Xdo({"key", "--clearmodifiers", keys}); }
void Type(const std::string& text) { Xdo({"type", "--delay", "2", Q(text)}); }

// Shows `w` with the keyboard focus; also after a modal window closed, since no
// window manager gives it back on this server.
void ShowActive(QWidget& w) {
  w.show();
  w.activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&w));
}

// A modal window runs its loop inside the click or key that opened it: `act` runs
// there once the window named `name` is up. `seen` gets its name; a window left open,
// or another one that stays up, is closed so the test goes on to say so.
template <class T>
void WhenModalIsUp(QString& seen, const QString& name, std::function<void(T*)> act) {
  seen.clear();
  auto* poll = new QTimer;
  auto* since = new QElapsedTimer;
  QObject::connect(poll, &QTimer::timeout, [&seen, name, act, poll, since] {
    QWidget* modal = QApplication::activeModalWidget();
    auto* w = qobject_cast<T*>(modal);
    if (!modal || !modal->isVisible()) return;
    if (!w || w->objectName() != name) {
      // Another window's loop (the one before, still closing, or one not expected).
      if (!since->isValid()) since->start();
      if (since->elapsed() < 10000) return;
      seen = "unexpected " + modal->objectName();
      modal->close();
    } else if (QTest::qWaitForWindowActive(w)) {
      seen = name;
      act(w);
      // The keys and clicks reach the window after xdotool has ended: give them time.
      QDeadlineTimer t(5000);
      while (w->isVisible() && !t.hasExpired()) QTest::qWait(10);
      if (w->isVisible()) {
        seen += " (left open)";
        w->close();
      }
    }
    poll->stop();
    poll->deleteLater();
    delete since;
  });
  poll->start(10);
}

}  // namespace

class FormDesktopTest : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase() {
    if (QGuiApplication::platformName() != "xcb") QSKIP("needs an X server: run it through tests/ui/xvfb_run.sh");
    if (QStandardPaths::findExecutable("xdotool").isEmpty()) QSKIP("xdotool is not installed");
  }

  // A folder without a mask, typed or given on the command line, is searched as the console searches it.
  void aFolderAsSourceIsSearched() {
    Scope s;
    std::string folder = s.Dir() / "reports";
    for (const char* f : {"a.doc", "b.docx", "notes.txt"}) kxtest::WriteFile(folder + "/" + f, "x");
    for (bool typed : {true, false}) {
      if (!typed) Project->ParseCommandLine(folder);  // batchpng ~/reports
      TkxFrmMain& w = s.Open();
      ShowActive(w);
      if (typed) {
        Click(w.eSource);
        Type(folder);
        QTRY_COMPARE(w.eSource->text(), Q(folder));
      }
      Click(w.bSearch);
      QVERIFY(WaitIdle(w));
      QTRY_COMPARE(w.RowCount(), 2);
      s.Close();
    }
  }

  // A document whose name is not UTF-8 converts; Enter on its row shows its pages,
  // and the exported list names it as the run log does.
  void aNameThatIsNotUtf8IsPreviewedByEnter() {
    Scope s(true);
    std::string in = s.Dir() / "in/", out = s.Dir() / "out/", latin1 = in + "caf\xe9.doc";
    kxtest::WriteFile(latin1, "{\\rtf1\\ansi\\f0\\fs48 Caf\\'e9 report\\par}");  // Writer reads it as a document
    TkxFrmMain& w = s.Open();
    ShowActive(w);
    w.eSource->setText(Q(in + "*.doc"));
    w.eTarget->setText(Q(out));
    Click(w.bCreate);  // Convert
    QTRY_VERIFY(w.Busy());
    QVERIFY(WaitIdle(w));
    kx::TkxResultRow* row = w.RowOfItem(0);
    QVERIFY2(row && row->Status() == kx::TkxNode::Success, row ? row->ResultText().c_str() : "no row");
    Click(w.lViewer->viewport(), w.lViewer->visualItemRect(row).center());
    QTRY_COMPARE(w.lViewer->currentItem(), static_cast<QTreeWidgetItem*>(row));
    Key("Return");
    QTRY_VERIFY(w.Preview() && w.Preview()->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(w.Preview()->Complete(), 30000);
    QCOMPARE(w.Preview()->Pages(), std::vector<std::string>{out + "caf\xe9-01.png"});
    w.ExportList(s.Dir() / "list.log");
    QCOMPARE(kxtest::ReadFile(s.Dir() / "list.log"),
             "[Success] => " + kx::DisplayPath(latin1) + " => " + kx::DisplayPath(out + "caf\xe9-*.png") + "\r\n");
  }

  // Place, size, fields and the folder chooser's folder are there again at the next
  // start; Ctrl+Q closes. The desktop finds the window by its class and icon.
  void placeSizeFieldsAndFoldersAreRemembered() {
    kx::TkxQtChoosers dialogs;
    Scope s;
    kx::SetChoosers(&dialogs);
    std::string home = s.Dir() / "home", docs = home + "/docs";
    kxtest::MakeDir(docs);
    QByteArray oldHome = qgetenv("HOME");
    qputenv("HOME", QByteArray::fromStdString(home));
    QString seen, opened;
    auto chooseFolder = [&](QFileDialog* chooser) {
      opened = chooser->directory().absolutePath();
      chooser->selectFile("docs");
      Click(chooser->findChild<QDialogButtonBox*>("buttonBox")->buttons().first());
    };
    {
      TkxFrmMain& w = s.Open();
      ShowActive(w);
      QVERIFY(Xdo({"search", "--class", "^lumipix$"}).split('\n').contains(QByteArray::number(w.winId())));
      QCOMPARE(w.windowIcon().pixmap(32).toImage(), kx::ProductIcon().pixmap(32).toImage());
      Xdo({"windowsize", QString::number(w.winId()), "900", "520"});
      Xdo({"windowmove", QString::number(w.winId()), "40", "50"});
      QTRY_COMPARE(w.geometry(), QRect(40, 50, 900, 520));
      WhenModalIsUp<QFileDialog>(seen, "QFileDialog", chooseFolder);
      Click(w.bSource);  // with an empty source the chooser opens at home
      QTRY_COMPARE(seen, QString("QFileDialog"));
      QTRY_COMPARE(opened, Q(home));
      QTRY_COMPARE(w.eSource->text(), Q(docs + "/*.doc?"));
      ShowActive(w);
      Click(w.eTarget);
      Key("ctrl+a");
      Type(s.Dir() / "pages/");
      QTRY_COMPARE(w.eTarget->text(), Q(s.Dir() / "pages/"));
      Key("ctrl+q");  // no project file: the fields are remembered, nothing to ask
      QTRY_VERIFY(!w.isVisible());
      s.Close();
    }
    TkxFrmMain& w = s.Open();
    ShowActive(w);
    QTRY_COMPARE(w.geometry(), QRect(40, 50, 900, 520));
    QCOMPARE(w.eSource->text(), Q(docs + "/*.doc?"));
    QCOMPARE(w.eTarget->text(), Q(s.Dir() / "pages/"));
    w.eSource->clear();
    WhenModalIsUp<QFileDialog>(seen, "QFileDialog", [&](QFileDialog* chooser) {
      opened = chooser->directory().absolutePath();
      Click(chooser->findChild<QDialogButtonBox*>("buttonBox")->button(QDialogButtonBox::Cancel));
    });
    Click(w.bSource);
    QTRY_COMPARE(opened, Q(docs));  // where it was last confirmed
    QTRY_COMPARE(seen, QString("QFileDialog"));
    qputenv("HOME", oldHome);
  }

  // A modified project asks before New and closing; closing during a run asks first.
  void unsavedChangesAndARunAreAskedAbout() {
    Scope s;
    kxtest::TestLog().DelayMs = 300;
    for (const char* f : {"a.doc", "b.doc", "c.doc", "d.doc", "e.doc"}) kxtest::WriteFile(s.Dir() / "in/" + f, "x");
    std::string job = s.Dir() / "job.batch-lumipix";
    kxtest::WriteFile(job, "Source=" + s.Dir() / "in/*.doc\r\nTarget=" + s.Dir() / "out/\r\n");
    Project->ParseCommandLine(job);
    QString seen;
    {
      TkxFrmMain& w = s.Open();
      ShowActive(w);
      Click(w.cSubdir);
      QTRY_COMPARE(w.windowTitle(), Q("Lumipix Converter - " + job + "*"));
      WhenModalIsUp<QMessageBox>(seen, "msgUnsaved", [](QMessageBox* box) { Click(box->button(QMessageBox::Cancel)); });
      Key("ctrl+n");  // Cancel keeps the project
      QTRY_COMPARE(seen, QString("msgUnsaved"));
      QVERIFY(w.cSubdir->isChecked() && w.ProjectModified());
      ShowActive(w);
      WhenModalIsUp<QMessageBox>(seen, "msgUnsaved", [](QMessageBox* box) { Click(box->button(QMessageBox::Save)); });
      Key("ctrl+q");
      QTRY_COMPARE(seen, QString("msgUnsaved"));
      QTRY_VERIFY(!w.isVisible());
      QVERIFY(kxtest::ReadFile(job).find("Subdir=True\r\n") != std::string::npos);
      s.Close();
    }
    TkxFrmMain& w = s.Open();
    ShowActive(w);
    Click(w.bCreate);
    QTRY_VERIFY(w.Busy());
    Click(w.cSubdir);
    QTRY_VERIFY(w.ProjectModified());
    // First the run, then the changes: "Stop and Close", then "Discard".
    QString second;
    WhenModalIsUp<QMessageBox>(seen, "msgRunning", [&](QMessageBox* box) {
      WhenModalIsUp<QMessageBox>(second, "msgUnsaved",
                                 [](QMessageBox* unsaved) { Click(unsaved->button(QMessageBox::Discard)); });
      for (QAbstractButton* b : box->buttons())
        if (box->buttonRole(b) == QMessageBox::AcceptRole) Click(b);
    });
    Key("ctrl+q");
    QTRY_COMPARE(seen, QString("msgRunning"));
    QTRY_COMPARE(second, QString("msgUnsaved"));
    QTRY_VERIFY(!w.isVisible());
    QVERIFY(w.Stopped());
    QVERIFY(WaitIdle(w));
    std::lock_guard<std::mutex> g(kxtest::TestLog().Lock);
    QVERIFY(kxtest::TestLog().Files.size() < 5);                                  // the documents not in hand were left
    QVERIFY(kxtest::ReadFile(job).find("Subdir=True\r\n") != std::string::npos);  // the change was discarded
  }
};

UI_TEST_CLASS(FormDesktopTest);
#include "formdesktop_test.moc"
