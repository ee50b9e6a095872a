// The main window as a desktop program: double-clicks, toolbar shortcuts and
// hints, sizes, the sortable list, the status bar, sharp icons, the preview.
#include <sys/stat.h>

#include <thread>

#include <QGuiApplication>
#include <QHeaderView>
#include <QHelpEvent>
#include <QMimeData>
#include <QPainter>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QToolTip>

#include "convert/emfbuild.h"
#include "core/project.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "ui/images.h"
#include "ui/kxFormPreview.h"
#include "ui/pagefiles.h"
#include "ui/resultrow.h"
#include "ui/runstatus.h"
#include "uitest.h"

using kx::Project;
using kx::TkxFrmMain;
using namespace uitest;

namespace {

std::string Text(QLineEdit* e) { return e->text().toStdString(); }
QString Q(const std::string& s) { return QString::fromStdString(s); }

void ShowActive(TkxFrmMain& w) {
  w.show();
  w.activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&w));
}

// The file names of the rows in the order the view shows them.
std::vector<std::string> ShownNames(TkxFrmMain& w) {
  std::vector<std::string> r;
  for (int i = 0; i < w.lViewer->topLevelItemCount(); ++i)
    r.push_back(kx::ExtractFileName(w.lViewer->topLevelItem(i)->text(1).toStdString()));
  return r;
}

// The file names of the batch's items, in item order.
std::vector<std::string> ItemNames(TkxFrmMain& w) {
  return kx::WithLockedItems(*w.Batch(), [](const kx::TkxBatch::TItems& items) {
    std::vector<std::string> r;
    for (const auto& n : items) r.push_back(kx::ExtractFileName(n->FileName));
    return r;
  });
}

void ClickHeader(TkxFrmMain& w, int section) {
  QHeaderView* h = w.lViewer->header();
  QTest::mouseClick(h->viewport(), Qt::LeftButton, Qt::NoModifier,
                    QPoint(h->sectionViewportPosition(section) + 8, h->height() / 2));
}

// A page image in one colour.
void WritePage(const std::string& path, QColor c, QSize size = QSize(300, 400)) {
  QImage img(size, QImage::Format_RGB32);
  img.fill(c);
  kx::ForceDirectories(kx::ExtractFilePath(path));
  QVERIFY(img.save(Q(path), "PNG"));
}

// The colour in the middle of a thumbnail.
QColor Middle(const QIcon& icon) {
  QImage img = icon.pixmap(QSize(150, 200)).toImage();
  return img.pixelColor(img.width() / 2, img.height() / 2);
}

bool Near(QColor a, QColor b) {
  return std::abs(a.red() - b.red()) < 40 && std::abs(a.green() - b.green()) < 40 && std::abs(a.blue() - b.blue()) < 40;
}

}  // namespace

class FormWindowTest : public QObject {
  Q_OBJECT
 private slots:
  void doubleClicksOnTheFieldsRunTheirChoosers() {
    Scope s;
    TkxFrmMain& w = s.Open();
    ShowActive(w);
    std::string a = s.Dir() / "a.doc";
    s.Choosers.Opens.push_back(a);
    DoubleClick(w.eSource);
    QCOMPARE(s.Choosers.Calls.size(), size_t(1));
    QCOMPARE(s.Choosers.Calls[0].substr(0, 6), std::string("open+|"));
    QCOMPARE(Text(w.eSource), a);
    QCOMPARE(Rows(w), std::vector<std::string>{"0|" + a + "|"});
    s.Choosers.Folders.push_back("/chosen/out");
    DoubleClick(w.eTarget);
    QCOMPARE(s.Choosers.Calls.back(), "folder||" + s.Dir().Path());
    QCOMPARE(Text(w.eTarget), std::string("/chosen/out/"));
    // A single click only places the cursor.
    QTest::mouseClick(w.eTarget, Qt::LeftButton);
    QCOMPARE(s.Choosers.Calls.size(), size_t(2));
  }

  void toolbarCaptionsKeepTheirAltShortcuts() {
    Scope s;
    TkxFrmMain& w = s.Open();
    ShowActive(w);
    struct TCase {
      QToolButton* Button;
      QAction* Action;
      const char* Caption;
      Qt::Key Key;
    };
    const TCase cases[] = {{w.tbOpen, w.aOpen, "&Open", Qt::Key_O},
                           {w.tbNew, w.aNew, "&New", Qt::Key_N},
                           {w.tbSave, w.aSave, "Sa&ve", Qt::Key_V},
                           {w.tbSaveAs, w.aSaveAs, "Save &As", Qt::Key_A},
                           {w.tbUpdate, w.aUpdate, "Check &Update", Qt::Key_U},
                           {w.tbHelp, w.aHelp, "&Help", Qt::Key_H}};
    for (const TCase& c : cases) {
      QCOMPARE(c.Button->text(), QString(c.Caption));
      w.eSource->setText("typed");
      w.eSource->setFocus();
      QSignalSpy spy(c.Action, &QAction::triggered);
      QTest::keyClick(w.eSource, c.Key, Qt::AltModifier);
      QVERIFY2(spy.count() == 1 || spy.wait(1000), c.Caption);
      QCOMPARE(spy.count(), 1);
      // The letter went to the shortcut, not into the field ("&New" empties it).
      QVERIFY(!w.eSource->text().contains(QChar(c.Key).toLower()));
    }
    // The captions without "&" have no shortcut and show as they are.
    QCOMPARE(w.tbHomePage->text(), QString("Home"));
    QCOMPARE(w.tbConfig->text(), QString("Config"));
  }

  void hintsWithTheirShortcutsOnlyWhereTheActionsHaveThem() {
    Scope s;
    TkxFrmMain& w = s.Open();
    ShowActive(w);
    auto shown = [&](QWidget* b) {
      QToolTip::hideText();
      QHelpEvent e(QEvent::ToolTip, QPoint(5, 5), b->mapToGlobal(QPoint(5, 5)));
      QApplication::sendEvent(b, &e);
      QString t = QToolTip::isVisible() ? QToolTip::text() : QString();
      QToolTip::hideText();
      return t;
    };
    // No hint and no key: no tooltip that would only repeat the caption.
    for (QToolButton* b : {w.tbUpdate, w.tbHomePage, w.tbAbout}) {
      QVERIFY2(b->toolTip().isEmpty(), qPrintable(b->objectName()));
      QVERIFY2(shown(b).isEmpty(), qPrintable(b->objectName()));
    }
    auto key = [](QAction* a) { return " (" + a->shortcut().toString(QKeySequence::NativeText) + ")"; };
    QCOMPARE(shown(w.tbOpen), "Open a batch project" + key(w.aOpen));
    QCOMPARE(w.tbHelp->toolTip(), "Help" + key(w.aHelp));
    QCOMPARE(w.tbSupports->toolTip(), QString("Send us e-mail for support"));
    for (QAction* a : {w.aOpen, w.aNew, w.aSave, w.aSaveAs, w.aHelp, w.aQuit}) QVERIFY(!a->shortcut().isEmpty());
    // A change of the action (enabled state, caption) does not bring the caption back as a hint.
    w.aAbout->setEnabled(false);
    w.aAbout->setEnabled(true);
    w.aAbout->setText("About");
    QVERIFY(w.tbAbout->toolTip().isEmpty());
    QCOMPARE(w.tbNew->toolTip(), "New a batch project" + key(w.aNew));
  }

  void openingSizeFitsTheScreen() {
    QSize minimum(790, 300);
    QCOMPARE(TkxFrmMain::OpeningSize(QSize(1920, 1080), minimum), QSize(1200, 600));
    QSize small = TkxFrmMain::OpeningSize(QSize(1024, 738), minimum);
    QVERIFY(small.width() <= 1024 - 16 && small.width() >= 790);
    QVERIFY(small.height() <= 738 - 48 && small.height() >= 300);
    QCOMPARE(TkxFrmMain::OpeningSize(QSize(640, 340), minimum), minimum);
  }

  void theLastColumnTakesTheRemainingWidth() {
    Scope s;
    TkxFrmMain& w = s.Open();
    ShowActive(w);
    for (int width : {1200, 900}) {
      w.resize(width, 600);
      QTRY_COMPARE(w.width(), width);
      QHeaderView* h = w.lViewer->header();
      QTRY_COMPARE(h->sectionViewportPosition(2) + h->sectionSize(2), w.lViewer->viewport()->width());
    }
  }

  void rowsSortByAnyColumnAndKeepTheirItems() {
    Scope s;
    std::string in = s.Dir() / "in/";
    for (const char* f : {"d10.doc", "b.doc", "d9.doc", "a-fail.doc", "c.doc"}) kxtest::WriteFile(in + f, "x");
    TkxFrmMain& w = s.Open();
    ShowActive(w);
    w.eSource->setText(Q(in + "*.doc"));
    w.eTarget->setText(Q(s.Dir() / "out/"));
    w.aSearchExecute();
    QVERIFY(WaitIdle(w));
    const std::vector<std::string> items = ItemNames(w);
    QCOMPARE(ShownNames(w), items);  // unsorted: the item order
    // By name, numbers in their order; again for the reverse; a third time back to the items.
    ClickHeader(w, 1);
    QCOMPARE(ShownNames(w), (std::vector<std::string>{"a-fail.doc", "b.doc", "c.doc", "d9.doc", "d10.doc"}));
    ClickHeader(w, 1);
    QCOMPARE(ShownNames(w), (std::vector<std::string>{"d10.doc", "d9.doc", "c.doc", "b.doc", "a-fail.doc"}));
    // Converting while sorted: each result lands in its own document's row.
    w.aConvertExecute();
    QVERIFY(WaitIdle(w));
    for (int i = 0; i < w.lViewer->topLevelItemCount(); ++i) {
      auto* row = kx::ResultRow(w.lViewer->topLevelItem(i));
      std::string name = row->FileName(), result = row->ResultText();
      QCOMPARE(row, w.RowOfItem(row->ItemIndex()));
      if (name.find("fail") != std::string::npos) {
        QCOMPARE(result, "Failed: " + kx::ExtractFileName(name));
        QCOMPARE(row->Status(), int(kx::TkxNode::Failure));
      } else {
        QCOMPARE(kx::ChangeFileExt(kx::ExtractFileName(result), ""), kx::ChangeFileExt(kx::ExtractFileName(name), ""));
        QCOMPARE(row->Status(), int(kx::TkxNode::Success));
      }
      // The full path and the result on hover.
      QCOMPARE(row->toolTip(1), Q(name));
      QCOMPARE(row->toolTip(2), Q(result));
    }
    QCOMPARE(ShownNames(w), (std::vector<std::string>{"d10.doc", "d9.doc", "c.doc", "b.doc", "a-fail.doc"}));
    // The export keeps the item order while the view is sorted.
    w.ExportList(s.Dir() / "list.log");
    std::string log = kxtest::ReadFile(s.Dir() / "list.log"), expected;
    for (int i = 0; i < w.RowCount(); ++i) {
      auto* row = w.RowOfItem(i);
      QCOMPARE(kx::ExtractFileName(row->FileName()), items[size_t(i)]);
      expected += std::string(row->Status() == kx::TkxNode::Success ? "[Success]" : "[Failure]") + " => " +
                  row->FileName() + " => " + row->ResultText() + "\r\n";
    }
    QCOMPARE(log, expected);
    ClickHeader(w, 1);  // third click: the item order again
    QCOMPARE(ShownNames(w), items);
    // By status: the failed document after the converted ones, which keep their item order.
    ClickHeader(w, 0);
    std::vector<std::string> byStatus = ShownNames(w);
    QCOMPARE(byStatus.back(), std::string("a-fail.doc"));
    std::vector<std::string> rest = items;
    rest.erase(std::find(rest.begin(), rest.end(), "a-fail.doc"));
    QCOMPARE(std::vector<std::string>(byStatus.begin(), byStatus.end() - 1), rest);
    // Rows of a new list take their places in the sorted view as they come.
    ClickHeader(w, 1);
    w.aSearchExecute();
    QVERIFY(WaitIdle(w));
    QCOMPARE(ShownNames(w), (std::vector<std::string>{"a-fail.doc", "b.doc", "c.doc", "d9.doc", "d10.doc"}));
    QCOMPARE(ItemNames(w), items);
  }

  void aDroppedFolderIsSearchedWithTheMask() {
    Scope s;
    std::string folder = s.Dir() / "dropped";
    for (const char* f : {"a.doc", "b.docx", "notes.txt"}) kxtest::WriteFile(folder + "/" + f, "x");
    TkxFrmMain& w = s.Open();
    ShowActive(w);
    auto* data = new QMimeData;
    data->setUrls({QUrl::fromLocalFile(Q(folder))});
    QPoint at(w.eSource->width() / 2, w.eSource->height() / 2);
    QDragEnterEvent enter(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w.eSource, &enter);
    QDropEvent drop(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w.eSource, &drop);
    delete data;
    QCOMPARE(Text(w.eSource), folder + "/*.doc?");
    w.bSearch->click();
    QVERIFY(WaitIdle(w));
    std::vector<std::string> names = ShownNames(w);
    std::sort(names.begin(), names.end());
    QCOMPARE(names, (std::vector<std::string>{"a.doc", "b.docx"}));
  }

  void commandsThatCannotActAreOffDuringARun() {
    Scope s;
    kxtest::TestLog().DelayMs = 200;
    for (const char* f : {"a.doc", "b.doc", "c.doc"}) kxtest::WriteFile(s.Dir() / "in/" + f, "x");
    TkxFrmMain& w = s.Open();
    ShowActive(w);
    w.eSource->setText(Q(s.Dir() / "in/*.doc"));
    w.eTarget->setText(Q(s.Dir() / "out/"));
    QWidget* off[] = {w.bSourceFile, w.bSearch};
    for (QWidget* c : off) QVERIFY(c->isEnabled());
    w.aConvertExecute();
    QVERIFY(w.Busy());
    for (QWidget* c : off) QVERIFY2(!c->isEnabled(), qPrintable(c->objectName()));
    QVERIFY(!w.aBrowseFiles->isEnabled());
    // The folder choosers still act: they set the fields for the next run.
    QVERIFY(w.bSource->isEnabled() && w.bTarget->isEnabled());
    // A double-click on the source field opens no chooser that could not act.
    DoubleClick(w.eSource);
    QCOMPARE(s.Choosers.Calls.size(), size_t(0));
    QVERIFY(WaitIdle(w));
    for (QWidget* c : off) QVERIFY(c->isEnabled());
    QVERIFY(w.aBrowseFiles->isEnabled());
  }

  void statusBarCountsARun() {
    Scope s;
    kxtest::TestLog().DelayMs = 150;
    for (const char* f : {"a.doc", "b.doc", "c.doc", "d.doc"}) kxtest::WriteFile(s.Dir() / "in/" + f, "x");
    TkxFrmMain& w = s.Open();
    ShowActive(w);
    w.eSource->setText(Q(s.Dir() / "in/*.doc"));
    w.eTarget->setText(Q(s.Dir() / "out/"));
    QVERIFY(!w.sbStatus->pbRun->isVisible());
    w.aConvertExecute();
    QTRY_VERIFY(w.sbStatus->pbRun->isVisible());
    // Part-way: the bar and the counts move together.
    QTRY_VERIFY_WITH_TIMEOUT(w.sbStatus->pbRun->value() >= 1 && w.sbStatus->pbRun->value() < 4, 5000);
    QCOMPARE(w.sbStatus->pbRun->maximum(), 4);
    QVERIFY2(w.sbStatus->lblCounts->text().startsWith("4 found, "), qPrintable(w.sbStatus->lblCounts->text()));
    QVERIFY(WaitIdle(w));
    QCOMPARE(w.sbStatus->lblCounts->text(), QString("4 found, 4 done: 4 converted, 0 failed"));
    QVERIFY(!w.sbStatus->pbRun->isVisible());
    QVERIFY(!w.sbStatus->lblCycle->isVisible());  // no unattended loop
  }

  void totalsInWords() {
    kx::TkxRunTotals t;
    t.Found = 12;
    t.Converted = 4;
    t.Failed = 1;
    QCOMPARE(kx::TotalsText(t, true, -1), std::string("12 found (searching), 5 done: 4 converted, 1 failed"));
    t.SearchDone = true;
    t.Skipped = 2;
    t.Pages = 31;
    QCOMPARE(kx::TotalsText(t, true, 2.345),
             std::string("12 found, 7 done: 4 converted, 1 failed, 2 skipped; 31 pages, 2.3 pages/s"));
    QCOMPARE(kx::TotalsText(t, false, 2.345),
             std::string("12 found, 7 done: 4 converted, 1 failed, 2 skipped; 31 pages"));
  }

  void aFolderTheSearchCannotReadIsSaid() {
    Scope s;
    kxtest::WriteFile(s.Dir() / "in/locked/a.doc", "x");
    kxtest::WriteFile(s.Dir() / "in/b.doc", "x");
    chmod((s.Dir() / "in/locked").c_str(), 0);
    TkxFrmMain& w = s.Open();
    w.eSource->setText(Q(s.Dir() / "in/*.doc"));
    w.cSubdir->setChecked(true);
    {
      kxtest::FileModesHold hold;  // the search thread starts under it
      w.aSearchExecute();
      QVERIFY(WaitIdle(w));
    }
    chmod((s.Dir() / "in/locked").c_str(), 0755);
    QCOMPARE(w.RowCount(), 1);
    // At the status bar's next tick.
    QTRY_COMPARE(w.sbStatus->lblProblem->text(),
                 Q("The folder " + s.Dir() / "in/locked/" + " cannot be searched: Permission denied"));
    QVERIFY(!w.sbStatus->lblProblem->isHidden());
    // A new list is searched afresh: the old list's problem goes with it.
    w.aSearchExecute();
    QVERIFY(WaitIdle(w));
    QCOMPARE(w.RowCount(), 2);
    QVERIFY(w.sbStatus->lblProblem->isHidden());
  }

  void aFailedExportSaysWhy() {
    Scope s;
    TkxFrmMain& w = s.Open();
    s.Choosers.Opens.push_back(s.Dir() / "a.doc");
    w.bSourceFileClick();
    s.Choosers.Saves.push_back(s.Dir() / "missing/list.log");
    bool thrown = false;
    try {
      w.aExportListExecute();
    } catch (const std::exception&) {
      thrown = true;  // and on to the application's handler, as every failed command
    }
    QVERIFY(thrown);
    QString problem = w.sbStatus->lblProblem->text();
    QVERIFY2(problem.startsWith("The list was not exported: ") && problem.contains(Q(s.Dir() / "missing/list.log")) &&
                 problem.contains("No such file or directory"),
             qPrintable(problem));
    QVERIFY(!w.sbStatus->lblProblem->isHidden());
    s.Choosers.Saves.push_back(s.Dir() / "list.log");
    w.aExportListExecute();
    QVERIFY(w.sbStatus->lblProblem->isHidden());
  }

  void iconsAreDrawnForEveryScale() {
    for (int i = 0; i < kx::kImageCount; ++i) {
      QIcon icon = kx::ListIcon(i);
      QCOMPARE(icon.pixmap(QSize(16, 16), 1.0).toImage(), kx::ListImage(i).toImage());
      QPixmap sharp = icon.pixmap(QSize(16, 16), 2.0);
      QCOMPARE(sharp.size(), QSize(32, 32));
      QCOMPARE(sharp.devicePixelRatio(), 2.0);
      QImage pixels = sharp.toImage();
      pixels.setDevicePixelRatio(1);
      QCOMPARE(pixels, kx::ListImage(i, 32).toImage());
      // Drawn at 32 pixels, not the 16-pixel picture enlarged.
      QImage blocky = kx::ListImage(i).toImage().scaled(32, 32);
      QVERIFY2(pixels.convertToFormat(blocky.format()) != blocky, qPrintable(QString::number(i)));
      QVERIFY(!icon.pixmap(QSize(16, 16), 1.0, QIcon::Disabled).isNull());
    }
    QPixmap logo = kx::LumipixLogo(2.0);
    QCOMPARE(logo.size(), QSize(256, 256));
    QCOMPARE(logo.deviceIndependentSize(), QSizeF(128, 128));
  }

  void anExceptionInTheLockedSectionLeavesTheLockFree() {
    kx::TkxBatch batch;
    bool thrown = false;
    try {
      kx::WithLockedItems(batch, [](const kx::TkxBatch::TItems&) -> int { throw std::runtime_error("in the lock"); });
    } catch (const std::runtime_error&) {
      thrown = true;
    }
    QVERIFY(thrown);
    bool free = false;
    std::thread other([&] {
      free = batch.ItemsLock().try_lock();
      if (free) batch.ItemsLock().unlock();
    });
    other.join();
    QVERIFY(free);
  }

  void pageFilesComeFromTheResultPattern() {
    kxtest::TempDir d;
    for (const char* f : {"doc-01.png", "doc-02.png", "doc-10.png", "doc-docx-01.png", "doc-1a.png", "doc-.png",
                          "doc-03.emf", "other-01.png", "doc-docx-02.png"})
      kxtest::WriteFile(d / f, "x");
    kxtest::MakeDir(d / "doc-04.png");  // a folder is no page
    QCOMPARE(kx::PageFilesOf(d / "doc-*.png"),
             (std::vector<std::string>{d / "doc-01.png", d / "doc-02.png", d / "doc-10.png"}));
    QCOMPARE(kx::PageFilesOf(d / "doc-docx-*.png"),
             (std::vector<std::string>{d / "doc-docx-01.png", d / "doc-docx-02.png"}));
    QCOMPARE(kx::PageFilesOf(d / "doc-*.emf"), std::vector<std::string>{d / "doc-03.emf"});
    for (std::string none : {std::string(), std::string("The file is damaged or is not a supported document"),
                             d / "doc-01.png", d / "missing/doc-*.png", d / "*-*.png"})
      QVERIFY2(kx::PageFilesOf(none).empty(), none.c_str());
  }

  void previewShowsThePagesOfARow() {
    Scope s;
    // Pages of both kinds: images the converter wrote, and a page metafile.
    std::string out = s.Dir() / "out/";
    WritePage(out + "doc-01.png", QColor(200, 30, 30));
    WritePage(out + "doc-02.png", QColor(30, 160, 40));
    WritePage(out + "doc-10.png", QColor(30, 60, 200));
    kxtest::WriteFile(out + "meta-01.emf", kxtest::EmfBuilder()
                                               .HimetricMapping()
                                               .SolidBrush(1, 0x0000C000)  // green, as COLORREF 0x00BBGGRR
                                               .Select(1)
                                               .Rectangle(0, 0, 21600, 27900)
                                               .Bytes());
    TkxFrmMain& w = s.Open();
    ShowActive(w);
    kx::TkxFrmPreview preview;
    preview.ShowDocument(0, s.Dir() / "doc.docx", 1, out + "doc-*.png", out + "doc-*.png");
    QTRY_VERIFY(preview.Complete());
    QCOMPARE(preview.lPages->count(), 3);
    QCOMPARE(preview.lPages->item(2)->text(), QString("Page 3"));
    QVERIFY(Near(Middle(preview.lPages->item(0)->icon()), QColor(200, 30, 30)));
    QVERIFY(Near(Middle(preview.lPages->item(1)->icon()), QColor(30, 160, 40)));
    QVERIFY(Near(Middle(preview.lPages->item(2)->icon()), QColor(30, 60, 200)));
    // A double-click on a page opens it with the desktop's viewer.
    preview.show();
    QVERIFY(QTest::qWaitForWindowExposed(&preview));
    QRect r = preview.lPages->visualItemRect(preview.lPages->item(1));
    DoubleClick(preview.lPages->viewport(), r.center());
    QVERIFY(WaitOpened(1));
    QCOMPARE(Opened(), std::vector<std::string>{out + "doc-02.png"});
    // The EMF edition's pages are drawn by the program's own player.
    preview.ShowDocument(0, s.Dir() / "meta.doc", 1, out + "meta-*.emf", out + "meta-*.emf");
    QTRY_VERIFY(preview.Complete());
    QCOMPARE(preview.lPages->count(), 1);
    QVERIFY2(Near(Middle(preview.lPages->item(0)->icon()), QColor(0, 192, 0)),
             qPrintable(Middle(preview.lPages->item(0)->icon()).name()));
    // A failed or pending document has no pages and says why.
    preview.ShowDocument(0, s.Dir() / "x.doc", 2, "The file is damaged or is not a supported document", "");
    QCOMPARE(preview.lPages->count(), 0);
    QCOMPARE(preview.lblNote->text(),
             QString("This document failed: The file is damaged or is not a supported document"));
    preview.ShowDocument(0, s.Dir() / "x.doc", 0, "", "");
    QCOMPARE(preview.lblNote->text(), QString("This document is not converted yet."));
  }

  void doubleClickOnARowOpensThePreviewWhichFollowsTheSelection() {
    Scope s;
    std::string in = s.Dir() / "in/";
    for (const char* f : {"a.doc", "b.doc"}) kxtest::WriteFile(in + f, "x");
    TkxFrmMain& w = s.Open();
    ShowActive(w);
    w.eSource->setText(Q(in + "*.doc"));
    w.eTarget->setText(Q(s.Dir() / "out/"));
    w.aConvertExecute();
    QVERIFY(WaitIdle(w));
    QVERIFY(w.Preview() == nullptr);
    QTreeWidgetItem* first = w.lViewer->topLevelItem(0);
    DoubleClick(w.lViewer->viewport(), w.lViewer->visualItemRect(first).center());
    QVERIFY(w.Preview() && w.Preview()->isVisible());
    QCOMPARE(w.Preview()->ItemIndex(), kx::ResultRow(first)->ItemIndex());
    QTreeWidgetItem* second = w.lViewer->topLevelItem(1);
    w.lViewer->setCurrentItem(second);
    QCOMPARE(w.Preview()->ItemIndex(), kx::ResultRow(second)->ItemIndex());
    QVERIFY(w.Preview()->windowTitle().endsWith(Q(kx::ExtractFileName(kx::ResultRow(second)->FileName()))));
    // A new list: the preview no longer shows a document of the old one.
    w.aSearchExecute();
    QCOMPARE(w.Preview()->ItemIndex(), -1);
    QCOMPARE(w.Preview()->lPages->count(), 0);
    QVERIFY(WaitIdle(w));
  }
};

UI_TEST_CLASS(FormWindowTest);
#include "formwindow_test.moc"
