// The main window and the about window: widgets, choosers, search, drops, menus.
#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QMimeData>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

#include "core/app.h"
#include "core/project.h"
#include "platform/paths.h"
#include "ui/images.h"
#include "ui/kxFormAbout.h"
#include "uitest.h"

using kx::Project;
using kx::TkxFrmMain;
using namespace uitest;

namespace {

template <class T>
T* Find(QObject* root, const char* name) {
  T* w = root->findChild<T*>(name);
  if (!w) qFatal("no %s", name);
  return w;
}

std::string Text(QLineEdit* e) { return e->text().toStdString(); }

// Drops `data` (taken over) on the middle of `target`.
void DropData(QWidget* target, QMimeData* data) {
  QPointF at(target->width() / 2.0, target->height() / 2.0);
  QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &enter);
  QDropEvent drop(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &drop);
  delete data;
}

void Drop(QWidget* target, const QStringList& files) {
  auto* data = new QMimeData;
  QList<QUrl> urls;
  for (const QString& f : files) urls << QUrl::fromLocalFile(f);
  data->setUrls(urls);
  DropData(target, data);
}

// A folder with documents at two levels and names the search must skip.
struct DocTree {
  explicit DocTree(const kxtest::TempDir& d) : Root(d / "docs/") {
    for (const char* f : {"a.doc", "b.docx", "notes.txt", "~$owner.doc", "sub/c.doc", "sub/deeper/d.docx"})
      kxtest::WriteFile(Root + f, "x");
  }
  std::string Root;
};

}  // namespace

class FormMainTest : public QObject {
  Q_OBJECT
 private slots:
  void widgetTreeAndTexts() {
    Scope s;
    TkxFrmMain& w = s.Open();
    // Toolbar: order and images.
    QStringList names;
    for (QAction* a : w.ToolBar->actions()) names << (a->isSeparator() ? "-" : a->objectName());
    QCOMPARE(names, QStringList({"aOpen", "aNew", "aConfig", "aSave", "aSaveAs", "-", "aUpdate", "-", "aHelp",
                                 "aHomePage", "aSupports", "aAbout"}));
    const std::pair<const char*, int> images[] = {
        {"tbOpen", 3},   {"tbNew", 4},  {"tbConfig", 14},  {"tbSave", 5},      {"tbSaveAs", 6},
        {"tbUpdate", 7}, {"tbHelp", 8}, {"tbHomePage", 9}, {"tbSupports", 10}, {"tbAbout", 11}};
    for (auto [name, image] : images) {
      auto* b = Find<QToolButton>(&w, name);
      QCOMPARE(b->icon().pixmap(16).toImage(), kx::ListImage(image).toImage());
      QCOMPARE(b->toolButtonStyle(), Qt::ToolButtonTextBesideIcon);
    }
    QCOMPARE(w.tbOpen->menu(), w.pmRecent);
    // Captions and hints.
    QCOMPARE(w.aConvert->text(), QString("&Convert"));
    QCOMPARE(w.aStop->text(), QString("Sto&p"));
    QCOMPARE(w.lblSource->text(), QString("&Source"));
    QCOMPARE(w.lblSource->buddy(), w.eSource);
    QCOMPARE(w.cSubdir->text(), QString("Su&b folders"));
    QCOMPARE(w.bSource->toolTip(), QString("Choose a folder and click \"Search\" to list files"));
    QCOMPARE(w.pSource->toolTip(), QString("Choose or drag & drop source folder or file(s)"));
    QCOMPARE(w.bSearch->text(), QString("Search"));
    QCOMPARE(w.bCreate->text(), QString("&Convert"));
    QCOMPARE(w.bView->text(), QString("View"));
    QVERIFY(!w.bSearchConvert->isVisibleTo(&w));  // "Start" is not visible while idle
    // Bound controls: the hint names the bound property and never shows.
    for (QWidget* c :
         {static_cast<QWidget*>(w.eSource), static_cast<QWidget*>(w.cSubdir), static_cast<QWidget*>(w.eTarget)})
      QVERIFY(c->toolTip().isEmpty());
    QCOMPARE(w.eSource->property("hint").toString(), QString("Text"));
    QCOMPARE(w.cSubdir->property("hint").toString(), QString("Checked"));
    QCOMPARE(Project->ControlCount(), 3);
    QCOMPARE(Project->Control(1), static_cast<QObject*>(w.cSubdir));
    // Tab order of both rows.
    auto next = [](QWidget* from) {
      QWidget* n = from->nextInFocusChain();
      while (!(n->focusPolicy() & Qt::TabFocus)) n = n->nextInFocusChain();
      return n;
    };
    const std::vector<QWidget*> order = {w.eSource, w.bSource, w.bSourceFile,    w.cSubdir, w.bSearch,
                                         w.eTarget, w.bTarget, w.bSearchConvert, w.bCreate, w.bView};
    for (size_t i = 0; i + 1 < order.size(); ++i) QCOMPARE(next(order[i]), order[i + 1]);
    // The list.
    QCOMPARE(w.lViewer->headerItem()->text(0), QString("@"));
    QCOMPARE(w.lViewer->headerItem()->text(2), QString("Result"));
    QCOMPARE(w.lViewer->selectionMode(), QAbstractItemView::ExtendedSelection);
    QStringList menu;
    for (QAction* a : w.pmList->actions()) menu << (a->isSeparator() ? "-" : a->text());
    QCOMPARE(menu, QStringList({"Browse Files", "-", "View  Source", "Open Source", "-", "View  Output", "-",
                                "Export the List"}));
    QCOMPARE(w.imgList.size(), 16);
  }

  // Whatever the desktop's font and size: at the window's smallest every control is
  // whole and shows its whole caption, the fields take the width that is left, the
  // toolbar's commands are on it or behind its extension button, and the list shows rows.
  void everythingFitsAtTheSmallestSizeInAnyFont() {
    const QFont desktop = QApplication::font();
    for (double points : {9.0, 16.0}) {
      QFont f = desktop;
      f.setPointSizeF(points);
      QApplication::setFont(f);
      Scope s;
      TkxFrmMain& w = s.Open();
      w.show();
      QVERIFY(QTest::qWaitForWindowExposed(&w));
      QCOMPARE(w.font().pointSizeF(), points);  // the desktop's, not one of ours
      w.resize(1, 1);
      QTRY_COMPARE(w.size(), w.minimumSize());
      for (QWidget* row : {w.pSource, w.pTarget})
        for (QWidget* c : row->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
          QVERIFY2(w.rect().contains(QRect(c->mapTo(&w, QPoint(0, 0)), c->size())), qPrintable(c->objectName()));
          if (!qobject_cast<QLineEdit*>(c)) QVERIFY2(c->width() >= c->sizeHint().width(), qPrintable(c->objectName()));
        }
      // The run buttons' other captions fit them too: Pause and Stop.
      for (auto [b, a] : {std::pair{w.bCreate, w.aPause}, std::pair{w.bSearchConvert, w.aStop}})
        QVERIFY(b->width() >= b->fontMetrics().horizontalAdvance(QString(a->text()).remove('&')));
      for (QAction* a : w.ToolBar->actions()) {
        QWidget* b = w.ToolBar->widgetForAction(a);
        QVERIFY2(a->isSeparator() || (b->isVisible() && w.ToolBar->rect().contains(b->geometry())) ||
                     w.ToolBar->findChild<QToolButton*>("qt_toolbar_ext_button")->isVisible(),
                 qPrintable(a->objectName()));
      }
      QVERIFY(w.lViewer->viewport()->height() >= 3 * w.lViewer->fontMetrics().height());
      // The two fields line up and share the width left.
      QCOMPARE(w.eSource->mapTo(&w, QPoint(0, 0)).x(), w.eTarget->mapTo(&w, QPoint(0, 0)).x());
      QCOMPARE(w.eSource->width(), w.eTarget->width());
      int narrow = w.eSource->width();
      w.resize(w.minimumWidth() + 300, w.height());
      QTRY_COMPARE(w.eSource->width(), narrow + 300);
    }
    QApplication::setFont(desktop);
  }

  void imagesAreDistinctPictures() {
    QSet<size_t> seen;
    for (int i = 0; i < kx::kImageCount; ++i) {
      QImage img = kx::ListImage(i).toImage();
      QCOMPARE(img.size(), QSize(16, 16));
      int inked = 0;
      for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) inked += qAlpha(img.pixel(x, y)) > 0;
      QVERIFY2(inked > 20, qPrintable(QString("image %1 is nearly empty").arg(i)));
      seen.insert(qHashBits(img.constBits(), img.sizeInBytes()));  // the pixels, not the object
    }
    QCOMPARE(seen.size(), kx::kImageCount);
    QImage logo = kx::LumipixLogoBitmap();
    QCOMPARE(logo.size(), QSize(128, 128));
    QCOMPARE(logo.depth(), 24);
    QCOMPARE(logo.pixel(127, 0), kx::kLogoKey);         // corners show the window through
    QCOMPARE(logo.pixel(9, 70) & 0xffffff, 0xffffffu);  // the document's page is white
  }

  void captionFollowsTheProject() {
    Scope s;
    TkxFrmMain& w = s.Open();
    // The default project not saved yet is no file: the caption names none.
    QCOMPARE(w.windowTitle(), QString("Lumipix Converter - None"));
    w.aNewExecute();
    QCOMPARE(w.windowTitle(), QString("Lumipix Converter - None"));
    std::string file = s.Dir() / "job.batch-lumipix";
    kxtest::WriteFile(file, "Source=/data/in/*.doc?\r\nSubdir=True\r\nTarget=/data/out/\r\n");
    s.Choosers.Opens.push_back(file);
    w.aOpenExecute();
    QCOMPARE(w.windowTitle().toStdString(), "Lumipix Converter - " + file);
    QCOMPARE(Text(w.eSource), std::string("/data/in/*.doc?"));
    QVERIFY(w.cSubdir->isChecked());
  }

  void startupProjectShowsInTheControls() {
    Scope s;
    kxtest::WriteFile(Project->DefaultProjectFile(), "Source=/p/*.doc?\r\nTarget=/q/\r\n");
    TkxFrmMain& w = s.Open();
    QCOMPARE(Text(w.eSource), std::string("/p/*.doc?"));
    QCOMPARE(Text(w.eTarget), std::string("/q/"));
  }

  void sourceFolderChooser() {
    Scope s;
    TkxFrmMain& w = s.Open();
    w.eSource->setText("/old/place/*.docx");
    s.Choosers.Folders.push_back("/new/docs");
    w.bSourceClick();
    QCOMPARE(s.Choosers.Calls.back(), std::string("folder||/old/place/"));
    QCOMPARE(Text(w.eSource), std::string("/new/docs/*.doc?"));
    QCOMPARE(Text(w.eTarget), std::string("/new/docs/"));  // was empty
    s.Choosers.Folders.push_back("/other");
    w.bSourceClick();
    QCOMPARE(Text(w.eSource), std::string("/other/*.doc?"));
    QCOMPARE(Text(w.eTarget), std::string("/new/docs/"));  // kept
    w.bSourceClick();                                      // cancelled: the old folder with the mask
    QCOMPARE(Text(w.eSource), std::string("/other/*.doc?"));
    s.Choosers.Folders.push_back("/");
    w.bSourceClick();
    QCOMPARE(Text(w.eSource), std::string("/*.doc?"));
    s.Choosers.Folders.push_back("/t");
    w.bTargetClick();
    QCOMPARE(Text(w.eTarget), std::string("/t/"));
  }

  void chosenFilesAreListed() {
    Scope s;
    TkxFrmMain& w = s.Open();
    w.eSource->setText("/in/*.doc?");
    std::string a = s.Dir() / "a.doc", b = s.Dir() / "b.docx", c = s.Dir() / "c.doc";
    s.Choosers.Opens.push_back(a + "\r\n" + b + "\r\n" + c + "\r\n");
    w.bSourceFileClick();
    QCOMPARE(s.Choosers.Calls.back(), std::string("open+|Word Document (*.doc;*.docx)|*.doc;*.docx|/in/*.doc?"));
    QCOMPARE(Text(w.eSource), std::string("/in/*.doc?"));
    QCOMPARE(Rows(w), (std::vector<std::string>{"0|" + a + "|", "0|" + b + "|", "0|" + c + "|"}));
    QCOMPARE(Text(w.eTarget), s.Dir().Path());
    w.bSourceFileClick();  // cancelled: the list stays
    QCOMPARE(Rows(w).size(), size_t(3));
    s.Choosers.Opens.push_back(b + "\r\n");
    w.aBrowseFiles->trigger();
    QCOMPARE(Text(w.eSource), b);
    QCOMPARE(Rows(w), std::vector<std::string>{"0|" + b + "|"});
  }

  void searchListsInItemOrder() {
    Scope s;
    DocTree t(s.Dir());
    TkxFrmMain& w = s.Open();
    w.eSource->setText(QString::fromStdString(t.Root + "*.doc?"));
    w.aSearchExecute();
    QVERIFY(WaitIdle(w));
    QCOMPARE(Text(w.eTarget), std::string());  // a search leaves an empty target field alone
    std::vector<std::string> rows = Rows(w);
    QCOMPARE(rows.size(), size_t(2));
    w.cSubdir->setChecked(true);
    w.bSearch->click();
    QVERIFY(WaitIdle(w));
    rows = Rows(w);
    QCOMPARE(rows.size(), size_t(4));
    // Row i shows item i, files of a folder before its sub folders.
    kx::TkxBatch::TItems& items = w.Batch()->LockItems();
    for (size_t i = 0; i < rows.size(); ++i) QCOMPARE(rows[i], "0|" + items[i]->FileName + "|");
    w.Batch()->UnlockItems();
    auto file = [&](size_t i) { return rows[i].substr(2, rows[i].size() - 3); };
    QCOMPARE(kx::ExtractFilePath(file(0)), t.Root);
    QCOMPARE(kx::ExtractFilePath(file(1)), t.Root);
    QCOMPARE(kx::ExtractFilePath(file(3)), t.Root + "sub/deeper/");
  }

  void searchWithoutSourceOrWithAWebAddress() {
    Scope s;
    TkxFrmMain& w = s.Open();
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    w.aSearchExecute();
    QVERIFY(w.Batch() == nullptr);
    QVERIFY(w.eSource->hasFocus());
    w.eSource->setText("http://host/docs/a.doc");
    w.aSearchExecute();
    QTRY_COMPARE(Rows(w), std::vector<std::string>{"0|http://host/docs/a.doc|"});
  }

  void dropsOnTheListTheEditsAndElsewhere() {
    Scope s;
    TkxFrmMain& w = s.Open();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    std::string p1 = s.Dir() / "one.batch-lumipix", p2 = s.Dir() / "two.batch-lumipix";
    kxtest::WriteFile(p1, "Source=/from/project/*.doc?\r\nTarget=/to/\r\n");
    kxtest::WriteFile(p2, "Source=/x/\r\n");
    Drop(w.lViewer->viewport(), {QString::fromStdString(p1)});
    QCOMPARE(Text(w.eSource), std::string("/from/project/*.doc?"));
    QCOMPARE(w.windowTitle().toStdString(), "Lumipix Converter - " + p1);
    // Two project files on the list are documents to the batch, whose name rules decide.
    Drop(w.lViewer->viewport(), {QString::fromStdString(p1), QString::fromStdString(p2)});
    QVERIFY(w.Batch());
    QCOMPARE(int(Rows(w).size()), int(w.Batch()->Accepts(p1)) + int(w.Batch()->Accepts(p2)));
    std::string a = s.Dir() / "a.doc", b = s.Dir() / "b.doc";
    Drop(w.lViewer->viewport(), {QString::fromStdString(a), QString::fromStdString(b)});
    QCOMPARE(Rows(w), (std::vector<std::string>{"0|" + a + "|", "0|" + b + "|"}));
    // A folder on the source field: the folder with the edition's mask, and the
    // folder as the default target; only the first file counts.
    w.eTarget->clear();
    std::string folder = s.Dir() / "in";
    kxtest::MakeDir(folder);
    Drop(w.eSource, {QString::fromStdString(folder), QString::fromStdString(a)});
    QCOMPARE(Text(w.eSource), folder + "/*.doc?");
    QCOMPARE(Text(w.eTarget), folder + "/");
    // A document on the source field: the document itself.
    w.eTarget->clear();
    Drop(w.eSource, {QString::fromStdString(a)});
    QCOMPARE(Text(w.eSource), a);
    QCOMPARE(Text(w.eTarget), s.Dir().Path());
    Drop(w.eTarget, {QString::fromStdString(folder + "/")});
    QCOMPARE(Text(w.eTarget), folder + "/");
    // On a button or the toolbar nothing happens.
    std::string before = Text(w.eSource);
    w.DropFiles(w.bSource->mapTo(&w, QPoint(5, 5)), {p1});
    w.DropFiles(w.tbNew->mapTo(&w, QPoint(5, 5)), {a});
    QCOMPARE(Text(w.eSource), before);
    QCOMPARE(Rows(w).size(), size_t(2));
    // A name far beyond any fixed buffer arrives whole.
    std::string longName = s.Dir().Path() + std::string(1500, 'n') + ".doc";
    w.DropFiles(w.lViewer->mapTo(&w, QPoint(20, 40)), {longName});
    QCOMPARE(Rows(w), std::vector<std::string>{"0|" + longName + "|"});
  }

  void listMenuStatesAndShellOpening() {
    Scope s;
    TkxFrmMain& w = s.Open();
    std::string a = s.Dir() / "a.doc", b = s.Dir() / "b.doc";
    s.Choosers.Opens.push_back(a + "\r\n" + b + "\r\n");
    w.bSourceFileClick();
    w.pmListPopup();
    QVERIFY(!w.aOpenSource->isEnabled());
    QVERIFY(!w.aViewSource->isEnabled());
    w.aViewSourceExecute();  // nothing selected: nothing opens
    w.lViewer->topLevelItem(1)->setSelected(true);
    w.pmListPopup();
    QVERIFY(w.aOpenSource->isEnabled());
    QVERIFY(w.aViewSource->isEnabled());
    w.aOpenSource->trigger();
    QVERIFY(WaitOpened(1));
    w.aViewSource->trigger();
    QVERIFY(WaitOpened(2));
    QCOMPARE(Opened(), (std::vector<std::string>{b, s.Dir().Path()}));
    w.eTarget->clear();
    w.aViewExecute();
    w.eTarget->setText("/some/out/");
    w.aViewOutput->trigger();
    QVERIFY(WaitOpened(3));
    QCOMPARE(Opened().back(), std::string("/some/out/"));
  }

  void namesThatAreNotUtf8AreShownAsTheLogWritesThemAndOpenedByTheirBytes() {
    Scope s;
    TkxFrmMain& w = s.Open();
    std::string latin1 = s.Dir() / "caf\xe9.doc";  // an old archive's name
    kxtest::WriteFile(latin1, "x");
    // Dropped from a file manager: the URI list carries the name's bytes.
    auto* data = new QMimeData;
    data->setData("text/uri-list", "file://" + QByteArray::fromStdString(latin1).toPercentEncoding("/") + "\r\n");
    DropData(w.lViewer->viewport(), data);
    QCOMPARE(w.lViewer->topLevelItemCount(), 1);
    QCOMPARE(w.lViewer->topLevelItem(0)->text(1), QString::fromStdString(kx::DisplayPath(latin1)));
    w.ExportList(s.Dir() / "list.log");
    QCOMPARE(kxtest::ReadFile(s.Dir() / "list.log"), "[Running] => " + kx::DisplayPath(latin1) + " => \r\n");
    w.lViewer->topLevelItem(0)->setSelected(true);
    w.aOpenSource->trigger();
    QVERIFY(WaitOpened(1));
    QCOMPARE(Opened(), std::vector<std::string>{latin1});
  }

  void toolbarLinks() {
    Scope s;
    TkxFrmMain& w = s.Open();
    w.aHelp->trigger();
    QVERIFY(WaitOpened(1));
    QCOMPARE(Opened()[0], kx::App->ExeName + ".pdf");
    auto* info = static_cast<kx::TkxInfo*>(kx::Info);
    QCOMPARE(info->StoredValue("H"), std::string("1"));
    w.aUpdate->trigger();
    QVERIFY(WaitOpened(2));
    QVERIFY(Opened()[1].rfind("https://www.lumipix.example/en/lumipix/download.htm?p=lumipix&", 0) == 0);
    w.aSupports->trigger();
    QVERIFY(WaitOpened(3));
    QVERIFY(Opened()[2].rfind("mailto:support@lumipix.example?subject=", 0) == 0);
  }

  void aboutWindow() {
    Scope s;
    TkxFrmMain& w = s.Open();
    kx::TkxFrmAbout* about = kx::FrmAbout;
    QVERIFY(about);
    QVERIFY(about->windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(qRound(about->windowOpacity() * 255), 200);
    // Each of these closes it: a click on a label, on the logo, on the background, a key.
    QWidget* targets[] = {about->lblProduct, about->img, about, nullptr};
    for (QWidget* target : targets) {
      bool closed = false;
      WhenModal([&](QWidget* modal) {
        QCOMPARE(modal, static_cast<QWidget*>(about));
        if (target)
          QTest::mouseClick(target, Qt::LeftButton, Qt::NoModifier, QPoint(3, 3));
        else
          QTest::keyClick(about, Qt::Key_X);
        closed = !about->isVisible();
      });
      w.aAboutExecute();
      QVERIFY(closed);
    }
    QCOMPARE(about->lblProduct->text(), QString("Lumipix Converter"));
    QCOMPARE(about->lblVersion->text(), QString::fromStdString(Project->Version));
    // The words are whole in the desktop's font: nothing is cut off.
    for (QLabel* l : {about->lblProduct, about->lblVersion, about->lblCopright}) {
      QVERIFY2(about->rect().contains(QRect(l->mapTo(about, QPoint(0, 0)), l->size())), qPrintable(l->objectName()));
      QVERIFY2(l->height() >= l->heightForWidth(l->width()) || l->height() >= l->sizeHint().height(),
               qPrintable(l->objectName()));
    }
  }

  void aboutShowsAnAmpersandAsItself() {
    Scope s;
    Project->Title = "Docs & Pictures";
    s.Open();
    kx::TkxFrmAbout* about = kx::FrmAbout;
    WhenModal([&](QWidget*) { about->FormClick(); });
    about->ShowAbout();
    QCOMPARE(about->lblProduct->text(), QString("Docs && Pictures"));
    // It draws exactly as a label showing the plain text would.
    QLabel plain("Docs & Pictures", about);
    plain.setFont(about->lblProduct->font());
    plain.setGeometry(about->lblProduct->geometry());
    plain.setAlignment(about->lblProduct->alignment());
    plain.setWordWrap(true);
    plain.setPalette(about->lblProduct->palette());
    QCOMPARE(about->lblProduct->grab().toImage().convertToFormat(QImage::Format_ARGB32),
             plain.grab().toImage().convertToFormat(QImage::Format_ARGB32));
  }

  void hiddenWindowRun() {
    Scope s;
    kxtest::WriteFile(Project->DefaultProjectFile(), "");
    Project->ParseCommandLine("-P:PureConsole=1,Source=http://host/a.doc,Target=" + s.Dir().Path());
    TkxFrmMain& w = s.Open();
    QCOMPARE(w.windowOpacity(), 0.0);
    QCOMPARE(Text(w.eSource), std::string("http://host/a.doc"));
  }

  void visibleWindowIsOpaque() {
    Scope s;
    TkxFrmMain& w = s.Open();
    QCOMPARE(w.windowOpacity(), 1.0);
  }

  void nothingReplacesTheListDuringARun() {
    Scope s;
    kxtest::TestLog().DelayMs = 300;
    for (const char* f : {"a.doc", "b.doc", "c.doc"}) kxtest::WriteFile(s.Dir() / f, "x");
    TkxFrmMain& w = s.Open();
    w.eSource->setText(QString::fromStdString(s.Dir() / "*.doc"));
    w.eTarget->setText(QString::fromStdString(s.Dir() / "out/"));
    w.aConvertExecute();
    QVERIFY(w.Busy());
    kx::TkxBatch* running = w.Batch();
    s.Choosers.Opens.push_back(s.Dir() / "other.doc");
    w.bSourceFileClick();
    w.aSearchExecute();
    w.DropFiles(w.lViewer->mapTo(&w, QPoint(20, 40)), {s.Dir() / "x.doc"});
    QCOMPARE(w.Batch(), running);
    QCOMPARE(s.Choosers.Calls.size(), size_t(0));  // the chooser never opened
    QVERIFY(WaitIdle(w));
    QCOMPARE(Rows(w).size(), size_t(3));
  }
};

UI_TEST_CLASS(FormMainTest);
#include "formmain_test.moc"
