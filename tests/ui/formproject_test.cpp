// Project commands of the toolbar and the config dialog; the UI dispatcher.
#include <atomic>
#include <thread>

#include <QTest>

#include "core/app.h"
#include "core/optiontable.h"
#include "core/project.h"
#include "platform/thread.h"
#include "platform/uidispatch.h"
#include "ui/kxFormCfg.h"
#include "uitest.h"

using kx::Project;
using kx::TkxFrmMain;
using namespace uitest;

namespace {
std::string Text(QLineEdit* e) { return e->text().toStdString(); }
std::string Caption(TkxFrmMain& w) { return w.windowTitle().toStdString(); }

// Shows the config dialog, lets `edit` act on it while it is up, then closes it with `button`.
void WithConfig(TkxFrmMain& w, std::function<void(kx::TkxFrmCfg*)> edit, const char* button) {
  WhenModal([&, edit, button](QWidget* modal) {
    auto* cfg = qobject_cast<kx::TkxFrmCfg*>(modal);
    QVERIFY(cfg);
    edit(cfg);
    if (std::string(button) == "close")
      cfg->close();
    else
      cfg->findChild<QPushButton*>(button)->click();
  });
  w.aConfigExecute();
}
}  // namespace

class FormProjectTest : public QObject {
  Q_OBJECT
 private slots:
  void openDocumentInsteadOfAProjectAndNew() {
    Scope s;
    TkxFrmMain& w = s.Open();
    std::string doc = s.Dir() / "letters/a.docx";
    s.Choosers.Opens.push_back(doc);
    w.aOpenExecute();
    QCOMPARE(s.Choosers.Calls.back().substr(0, 5), std::string("open|"));
    QVERIFY(s.Choosers.Calls.back().find("Lumipix Project|*.batch-lumipix|Word Document") != std::string::npos);
    QCOMPARE(Text(w.eSource), doc);
    QCOMPARE(Caption(w), std::string("Lumipix Converter - None"));
    w.aOpenExecute();  // cancelled: nothing loaded, the caption refreshed all the same
    QCOMPARE(Text(w.eSource), doc);
    s.Choosers.Opens.push_back(s.Dir() / "gone.batch-lumipix");
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, w.aOpenExecute());  // on to the application's handler
    QCOMPARE(w.sbStatus->lblProblem->text().toStdString(), "The project was not opened: Cannot open file \"" +
                                                               s.Dir() / "gone.batch-lumipix" +
                                                               "\". It is not a regular file");
    QCOMPARE(Text(w.eSource), doc);
    w.cSubdir->setChecked(true);
    w.tbNew->click();
    QCOMPARE(Caption(w), std::string("Lumipix Converter - None"));
    QCOMPARE(Text(w.eSource), std::string());
    QCOMPARE(Text(w.eTarget), std::string());
    QVERIFY(!w.cSubdir->isChecked());
  }

  void recentProjectsMenu() {
    Scope s;
    std::string a = s.Dir() / "a&b.batch-lumipix", gone = s.Dir() / "gone.batch-lumipix";
    kxtest::WriteFile(a, "Source=/from/a/*.doc?\r\n");
    TkxFrmMain& w = s.Open();
    Project->RecentFiles.Clear();
    w.pmRecentPopup();
    QCOMPARE(w.pmRecent->actions().size(), 0);  // an empty list opens empty
    Project->RecentFiles.Add(a);
    Project->RecentFiles.Add(gone);
    w.pmRecentPopup();
    w.pmRecentPopup();  // refilled, not added to
    QList<QAction*> items = w.pmRecent->actions();
    QCOMPARE(items.size(), 2);
    QCOMPARE(items[0]->text(), QString::fromStdString(s.Dir() / "a&&b.batch-lumipix"));  // shows as the path
    QVERIFY(items[0]->isEnabled());
    QVERIFY(!items[1]->isEnabled());
    items[0]->trigger();
    QCOMPARE(Caption(w), "Lumipix Converter - " + a);
    QCOMPARE(Text(w.eSource), std::string("/from/a/*.doc?"));
  }

  void saveAndSaveAs() {
    Scope s;
    TkxFrmMain& w = s.Open();
    w.aNewExecute();
    w.eSource->setText("/typed/*.doc?");
    w.aSaveExecute();  // no name: save as, cancelled
    QCOMPARE(Project->FileName, std::string());
    QCOMPARE(Caption(w), std::string("Lumipix Converter - None"));
    QCOMPARE(s.Choosers.Calls.back(), std::string("save|Lumipix Project|*.batch-lumipix||.batch-lumipix"));
    std::string file = s.Dir() / "saved.batch-lumipix";
    s.Choosers.Saves.push_back(file);
    w.tbSaveAs->click();
    QCOMPARE(Caption(w), "Lumipix Converter - " + file);
    QVERIFY(kxtest::ReadFile(file).find("Source=/typed/*.doc?\r\n") != std::string::npos);
    QCOMPARE(Project->RecentFiles[0], file);
    w.eTarget->setText("/then/out/");
    w.aSaveExecute();  // named: written without asking
    QCOMPARE(s.Choosers.Calls.size(), size_t(2));
    QVERIFY(kxtest::ReadFile(file).find("Target=/then/out/\r\n") != std::string::npos);
  }

  void configDialogEditsTheSettings() {
    Scope s;
    TkxFrmMain& w = s.Open();
    w.aNewExecute();
    w.eSource->setText("/typed/source/*.doc?");
    w.eTarget->setText("/typed/out/");
    QString shown;
    WithConfig(
        w,
        [&](kx::TkxFrmCfg* cfg) {
          shown = cfg->txtCfg->toPlainText();
          QCOMPARE(cfg->windowTitle(), QString("Config"));
          QCOMPARE(cfg->btnOk->text(), QString("&Ok"));
          QCOMPARE(cfg->btnHelp->toolTip(), QString("Click here to see the details about the options"));
          // It grows, and its text with it.
          int wide = cfg->txtCfg->width();
          cfg->resize(cfg->width() + 200, cfg->height() + 100);
          QTRY_VERIFY(cfg->txtCfg->width() >= wide + 200);
          // Unreadable values are warned about as the console does, as they are typed;
          // every option is listed with its default, the ones the text sets first.
          QVERIFY(cfg->lblWarnings->isHidden());
          cfg->txtCfg->appendPlainText("ThreadsCount=two");
          QVERIFY(!cfg->lblWarnings->isHidden() &&
                  cfg->lblWarnings->text().contains("ThreadsCount=two is not a whole number"));
          QStringList keys;
          for (int i = 0; i < cfg->lOptions->topLevelItemCount(); ++i) keys << cfg->lOptions->topLevelItem(i)->text(0);
          QStringList set = keys.mid(0, 4);
          set.sort();
          QCOMPARE(set, QStringList({"Source", "Subdir", "Target", "ThreadsCount"}));
          for (const kx::TkxOptionKey& k : kx::OptionTable())
            if (k.Listed) QVERIFY2(keys.contains(k.Key), k.Key);
          QCOMPARE(cfg->lOptions->topLevelItem(keys.indexOf("Dpi"))->text(2), QString("96"));
        },
        "btnCancel");
    QVERIFY(shown.contains("Source=/typed/source/*.doc?"));
    QVERIFY(shown.contains("Target=/typed/out/"));
    // Delete the Target line, add an option, Ok: the field empties, the option is set.
    WithConfig(
        w,
        [](kx::TkxFrmCfg* cfg) {
          QStringList lines = cfg->txtCfg->toPlainText().split('\n');
          lines.removeIf([](const QString& l) { return l.startsWith("Target="); });
          lines << "ThreadsCount=3";
          cfg->txtCfg->setPlainText(lines.join('\n'));
        },
        "btnOk");
    QCOMPARE(Text(w.eTarget), std::string());
    QCOMPARE(Project->ThreadsCount(), 3);
    QCOMPARE(Caption(w), std::string("Lumipix Converter - None*"));  // a change beyond the fields, not saved
    // Cancel and the close box discard edits; the next showing starts from the project.
    for (const char* how : {"btnCancel", "close"}) {
      WithConfig(
          w, [](kx::TkxFrmCfg* cfg) { cfg->txtCfg->setPlainText("Source=/discarded/"); }, how);
      QCOMPARE(Text(w.eSource), std::string("/typed/source/*.doc?"));
      QCOMPARE(Project->ThreadsCount(), 3);
    }
    kx::TkxFrmCfg* first = w.ConfigDialog();
    WithConfig(
        w, [&](kx::TkxFrmCfg* cfg) { shown = cfg->txtCfg->toPlainText(); }, "btnCancel");
    QVERIFY(!shown.contains("discarded"));
    QVERIFY(first);
    QCOMPARE(w.ConfigDialog(), first);  // made once, kept
    // Its help button opens the help file and leaves the dialog up.
    WithConfig(
        w,
        [](kx::TkxFrmCfg* cfg) {
          cfg->btnHelp->click();
          QVERIFY(cfg->isVisible());
        },
        "btnCancel");
    QVERIFY(WaitOpened(1));
    QCOMPARE(Opened()[0], kx::App->ExeName + ".pdf");
  }

  void dispatcherRunsOnTheGuiThreadAndReleasesWaitersOnShutdown() {
    auto d = std::make_unique<kx::TkxUiDispatcher>();
    d->Install();
    std::atomic<bool> onGui{false}, done{false};
    std::thread worker([&] {
      kx::TThread::Synchronize([&] { onGui = QThread::currentThread() == qApp->thread(); });
      done = true;
    });
    QTRY_VERIFY(done.load());
    worker.join();
    QVERIFY(onGui.load());
    // A call that the GUI thread never serves is dropped at shutdown; its waiter returns.
    std::atomic<bool> ran{false};
    done = false;
    std::thread late([&] {
      kx::TThread::Synchronize([&] { ran = true; });
      done = true;
    });
    QTest::qSleep(100);  // no events served: the call stays queued
    d->Shutdown();
    late.join();
    QVERIFY(done.load());
    QCoreApplication::processEvents();
    QVERIFY(!ran.load());
    // A failure inside the call reaches the waiting thread.
    d = std::make_unique<kx::TkxUiDispatcher>();
    d->Install();
    std::string caught;
    done = false;
    std::thread failing([&] {
      try {
        kx::TThread::Synchronize([] { throw std::runtime_error("from the gui"); });
      } catch (const std::exception& e) {
        caught = e.what();
      }
      done = true;
    });
    QTRY_VERIFY(done.load());
    failing.join();
    QCOMPARE(caught, std::string("from the gui"));
  }
};

UI_TEST_CLASS(FormProjectTest);
#include "formproject_test.moc"
