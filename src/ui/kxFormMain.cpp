#include "ui/kxFormMain.h"

#include <mutex>

#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMimeData>
#include <QScreen>
#include <QSettings>
#include <QThread>
#include <QVBoxLayout>

#include "core/infoslot.h"
#include "core/project.h"
#include "core/strlist.h"
#include "engine/runreport.h"
#include "platform/choosers.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/shell.h"
#include "platform/text.h"
#include "ui/images.h"
#include "ui/kxFormAbout.h"
#include "ui/kxFormCfg.h"
#include "ui/kxFormPreview.h"

namespace kx {

static QString Q(const std::string& s) { return QString::fromStdString(s); }
static std::string S(const QString& s) { return s.toStdString(); }

// Where the batch and converter threads leave their notifications. The window
// detaches itself when it goes, so a late thread posts into nothing.
class TkxRowSink {
 public:
  explicit TkxRowSink(TkxFrmMain* w) : FWindow(w) {}
  // Queued into the GUI thread, in the order of the calls.
  void Post(std::function<void(TkxFrmMain*)> fn) {
    std::lock_guard<std::mutex> g(FLock);
    if (!FWindow) return;
    TkxFrmMain* w = FWindow;
    QMetaObject::invokeMethod(
        w, [w, fn = std::move(fn)] { fn(w); }, Qt::QueuedConnection);
  }
  // GUI thread only.
  TkxFrmMain* Window() {
    std::lock_guard<std::mutex> g(FLock);
    return FWindow;
  }
  void Detach() {
    std::lock_guard<std::mutex> g(FLock);
    FWindow = nullptr;
  }

 private:
  std::mutex FLock;
  TkxFrmMain* FWindow;
};

// ---- buttons that show an action

// The hint an action was given, with its shortcut; Qt's own tooltip falls back to
// the caption, which says nothing the button does not show.
static QString ActionHint(const QAction* a) {
  QString hint = a->property("hint").toString();
  QKeySequence key = a->shortcut();
  if (key.isEmpty()) return hint;
  QString what = hint.isEmpty() ? QString(a->text()).remove('&') : hint;
  return what + " (" + key.toString(QKeySequence::NativeText) + ")";
}

// The desktop's key for `standard`, or `fallback` where the desktop has none.
static void SetShortcut(QAction* a, QKeySequence::StandardKey standard, const char* fallback) {
  QList<QKeySequence> keys = QKeySequence::keyBindings(standard);
  a->setShortcuts(keys.isEmpty() ? QList<QKeySequence>{QKeySequence(fallback)} : keys);
}

namespace {

// aStop's data: whether Stop ended the run, so that its end forgets the batch.
constexpr int kRunNotStopped = 0, kRunStopped = 1;

// Why a command that would replace the list did nothing.
const char* const kListInUse = "The list is in use until the search or run ends (a run ends early with Pause or Stop)";

class TkxButtonLink : public QObject {
 public:
  TkxButtonLink(QPushButton* b) : QObject(b), FButton(b) {
    setObjectName("actionLink");
    connect(b, &QPushButton::clicked, this, [this] {
      if (FAction) FAction->trigger();
    });
  }
  void SetAction(QAction* a) {
    if (FAction) disconnect(FAction, nullptr, this, nullptr);
    FAction = a;
    connect(a, &QAction::changed, this, [this] { Update(); });
    Update();
  }
  QAction* Action() const { return FAction; }

 private:
  void Update() {
    FButton->setText(FAction->text());
    FButton->setToolTip(ActionHint(FAction));
    FButton->setEnabled(FAction->isEnabled());
    FButton->setVisible(FAction->isVisible());
  }
  QPushButton* FButton;
  QAction* FAction = nullptr;
};
}  // namespace

void LinkButton(QPushButton* button, QAction* action) {
  auto* link = button->findChild<TkxButtonLink*>("actionLink", Qt::FindDirectChildrenOnly);
  if (!link) link = new TkxButtonLink(button);
  link->SetAction(action);
}

QAction* LinkedAction(QPushButton* button) {
  auto* link = button->findChild<TkxButtonLink*>("actionLink", Qt::FindDirectChildrenOnly);
  return link ? link->Action() : nullptr;
}

// ---- building the window

static QAction* MakeAction(QObject* owner, const char* name, const char* caption, const char* hint) {
  auto* a = new QAction(QString::fromUtf8(caption), owner);
  a->setObjectName(name);
  // Toolbar buttons show the icon text: with the "&" kept it makes their Alt shortcut.
  a->setIconText(a->text());
  a->setProperty("hint", hint ? QString::fromUtf8(hint) : QString());
  if (hint) a->setToolTip(QString::fromUtf8(hint));
  return a;
}

static QPushButton* MakeButton(QWidget* parent, const char* name, const char* caption, const char* hint) {
  auto* b = new QPushButton(parent);
  b->setObjectName(name);
  if (caption) b->setText(caption);
  if (hint) b->setToolTip(QString::fromUtf8(hint));
  b->setAutoDefault(false);
  return b;
}

// One row of the action panel with its own hint: its controls side by side, the edit
// taking the width the others leave.
static QWidget* MakeRow(QWidget* parent, const char* name, const char* hint) {
  auto* row = new QWidget(parent);
  row->setObjectName(name);
  row->setToolTip(hint);
  auto* l = new QHBoxLayout(row);
  l->setContentsMargins(0, 0, 0, 0);
  return row;
}

static void AddToRow(QWidget* row, std::initializer_list<QWidget*> controls) {
  auto* l = static_cast<QHBoxLayout*>(row->layout());
  for (QWidget* c : controls) l->addWidget(c, qobject_cast<QLineEdit*>(c) ? 1 : 0);
}

// A labelled edit: the label stands left of the edit, its buddy.
static QLineEdit* MakeLabelledEdit(QWidget* parent, const char* name, const char* caption, QLabel*& label) {
  auto* e = new QLineEdit(parent);
  e->setObjectName(name);
  e->setProperty("hint", "Text");  // the bound property, not a tooltip
  e->setProperty("tag", -1);
  label = new QLabel(caption, parent);
  label->setObjectName(QString("lbl") + (name + 1));
  label->setBuddy(e);
  return e;
}

// The names of files dropped, as bytes: the URI list carries them percent-encoded and
// exact, where Qt's own file names would lose the bytes of a name that is not UTF-8.
// Files of other machines (a host in the address) are left out.
static std::vector<std::string> DroppedFiles(const QMimeData* data) {
  std::vector<std::string> files;
  for (QByteArray line : data->data("text/uri-list").split('\n')) {
    line = line.trimmed();
    if (!line.startsWith("file://")) continue;
    QByteArray rest = line.mid(7);
    qsizetype slash = rest.indexOf('/');
    if (slash < 0) continue;
    QByteArray host = rest.left(slash);
    if (!host.isEmpty() && host != "localhost") continue;
    files.push_back(QByteArray::fromPercentEncoding(rest.mid(slash)).toStdString());
  }
  return files;
}

TkxFrmMain::TkxFrmMain(QWidget* parent) : TkxFrmBase(parent), FSink(std::make_shared<TkxRowSink>(this)) {
  setObjectName("frmMain");
  setWindowFlags(Qt::Window);
  setSizeGripEnabled(false);
  FDispatcher.Install();
  imgList = ImageList();
  BuildActions();
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  BuildToolBar();
  layout->addWidget(ToolBar);
  BuildAction();
  layout->addWidget(pAction);
  pSpacer = new QWidget(this);
  pSpacer->setObjectName("pSpacer");
  pSpacer->setFixedHeight(2);
  layout->addWidget(pSpacer);
  BuildViewer();
  layout->addWidget(pViewer, 1);
  sbStatus = new TkxRunStatus(this);
  layout->addWidget(sbStatus);
  AlignActionColumns();
  FCycle.setSingleShot(true);
  connect(&FCycle, &QTimer::timeout, this, [this] {
    EndWait();
    if (!FStopped) AutoRunCheck();
  });
  FPoll.setInterval(250);
  connect(&FPoll, &QTimer::timeout, this, [this] { UpdateStatus(); });

  // Idle state.
  LinkButton(bSearch, aSearch);
  LinkButton(bView, aView);
  LinkButton(bCreate, aConvert);
  LinkButton(bSearchConvert, aSearchConvert);
  aStop->setData(kRunNotStopped);

  // FormCreate.
  RegisterBoundControls();
  if (Project) Project->OpenStartupProject();
  for (QWidget* w : {static_cast<QWidget*>(eSource), static_cast<QWidget*>(eTarget), lViewer->viewport()}) {
    w->setAcceptDrops(true);
    w->installEventFilter(this);
  }
  RestoreWindowState();
  MarkUnmodified();
  // The caption marks a modified project as the fields change.
  connect(eSource, &QLineEdit::textChanged, this, [this] { UpdateTitle(); });
  connect(eTarget, &QLineEdit::textChanged, this, [this] { UpdateTitle(); });
  connect(cSubdir, &QCheckBox::toggled, this, [this] { UpdateTitle(); });
  FBuilt = true;
}

void TkxFrmMain::RestoreWindowState() {
  QSettings settings;
  layout()->activate();  // the minimum size follows from the layout
  QByteArray geometry = settings.value("Window/Geometry").toByteArray();
  if (geometry.isEmpty() || !restoreGeometry(geometry)) {
    QScreen* screen = QGuiApplication::primaryScreen();
    resize(OpeningSize(screen ? screen->availableGeometry().size() : QSize(1200, 600), minimumSize()));
    CentreOnScreen();
  }
  // A project file of its own says what the fields hold; otherwise the fields it
  // leaves empty show what they showed when the window last closed.
  if (ProjectHasFile()) return;
  if (eSource->text().isEmpty()) {
    eSource->setText(settings.value("Window/Source").toString());
    cSubdir->setChecked(settings.value("Window/Subdir").toBool());
  }
  if (eTarget->text().isEmpty()) eTarget->setText(settings.value("Window/Target").toString());
}

void TkxFrmMain::SaveWindowState() {
  QSettings settings;
  settings.setValue("Window/Geometry", saveGeometry());
  settings.setValue("Window/Source", eSource->text());
  settings.setValue("Window/Subdir", cSubdir->isChecked());
  settings.setValue("Window/Target", eTarget->text());
}

QSize TkxFrmMain::OpeningSize(const QSize& available, const QSize& minimum) {
  // Room for the window's frame and title bar, which are not known before it shows.
  QSize room = available - QSize(16, 48);
  return QSize(1200, 600).boundedTo(room).expandedTo(minimum);
}

void TkxFrmMain::AlignActionColumns() {
  // The width a control needs for the widest caption it can show.
  auto needs = [](QAbstractButton* b, const QStringList& captions) {
    QString now = b->text();
    int width = 0;
    for (const QString& c : captions) {
      b->setText(c);
      width = std::max(width, b->sizeHint().width());
    }
    b->setText(now);
    return width;
  };
  auto caption = [](QAction* a) { return a->text(); };
  struct TColumn {
    QWidget *Top, *Bottom;
    int Width;
  };
  const TColumn columns[] = {
      {lblSource, lblTarget, std::max(lblSource->sizeHint().width(), lblTarget->sizeHint().width())},
      {bSource, bTarget, std::max(needs(bSource, {bSource->text()}), needs(bTarget, {bTarget->text()}))},
      {bSourceFile, bView, std::max(needs(bSourceFile, {bSourceFile->text()}), needs(bView, {caption(aView)}))},
      {cSubdir, bSearchConvert,
       std::max(cSubdir->sizeHint().width(), needs(bSearchConvert, {caption(aSearchConvert), caption(aStop)}))},
      {bSearch, bCreate,
       std::max(needs(bSearch, {caption(aSearch)}), needs(bCreate, {caption(aConvert), caption(aPause)}))},
  };
  for (const TColumn& c : columns) {
    c.Top->setFixedWidth(c.Width);
    c.Bottom->setFixedWidth(c.Width);
  }
  // Long paths need room: the fields never shrink below a few words.
  for (QLineEdit* e : {eSource, eTarget}) e->setMinimumWidth(e->fontMetrics().averageCharWidth() * 24);
  lViewer->setMinimumHeight(lViewer->fontMetrics().height() * 6);
}

void TkxFrmMain::changeEvent(QEvent* e) {
  TkxFrmBase::changeEvent(e);
  if (FBuilt && (e->type() == QEvent::FontChange || e->type() == QEvent::StyleChange)) AlignActionColumns();
}

void TkxFrmMain::BuildActions() {
  actList = new QObject(this);
  actList->setObjectName("actList");
  aConvert = MakeAction(actList, "aConvert", "&Convert", "Convert the file(s) instantly");
  aStop = MakeAction(actList, "aStop", "Sto&p", nullptr);
  aOpen = MakeAction(actList, "aOpen", "&Open", "Open a batch project");
  aNew = MakeAction(actList, "aNew", "&New", "New a batch project");
  aConfig = MakeAction(actList, "aConfig", "Config", "Config the options of the batch project");
  aSave = MakeAction(actList, "aSave", "Sa&ve", "Save the batch project");
  aSaveAs = MakeAction(actList, "aSaveAs", "Save &As", "Save the batch project as ...");
  aUpdate = MakeAction(actList, "aUpdate", "Check &Update", nullptr);
  aHelp = MakeAction(actList, "aHelp", "&Help", nullptr);
  aHomePage = MakeAction(actList, "aHomePage", "Home", nullptr);
  aSupports = MakeAction(actList, "aSupports", "Support", "Send us e-mail for support");
  aAbout = MakeAction(actList, "aAbout", "About", nullptr);
  aSearch = MakeAction(actList, "aSearch", "Search", "Search files from the source folder");
  aView = MakeAction(actList, "aView", "View", "View the convert result");
  aSearchConvert = MakeAction(actList, "aSearchConvert", "Start", nullptr);
  aSearchConvert->setVisible(false);
  aPause = MakeAction(actList, "aPause", "Pause", nullptr);
  aQuit = MakeAction(actList, "aQuit", "&Quit", nullptr);
  aStop->setIcon(imgList[15]);
  aConvert->setIcon(imgList[0]);
  // The desktop's keys for the project commands and help, and Ctrl+Q to close.
  SetShortcut(aOpen, QKeySequence::Open, "Ctrl+O");
  SetShortcut(aNew, QKeySequence::New, "Ctrl+N");
  SetShortcut(aSave, QKeySequence::Save, "Ctrl+S");
  SetShortcut(aSaveAs, QKeySequence::SaveAs, "Ctrl+Shift+S");
  SetShortcut(aHelp, QKeySequence::HelpContents, "F1");
  SetShortcut(aQuit, QKeySequence::Quit, "Ctrl+Q");
  addAction(aQuit);

  connect(aConvert, &QAction::triggered, this, [this] { aConvertExecute(); });
  connect(aStop, &QAction::triggered, this, [this] { aStopExecute(); });
  connect(aOpen, &QAction::triggered, this, [this] { aOpenExecute(); });
  connect(aNew, &QAction::triggered, this, [this] { aNewExecute(); });
  connect(aConfig, &QAction::triggered, this, [this] { aConfigExecute(); });
  connect(aSave, &QAction::triggered, this, [this] { aSaveExecute(); });
  connect(aSaveAs, &QAction::triggered, this, [this] { aSaveAsExecute(); });
  connect(aUpdate, &QAction::triggered, this, [this] { aUpdateExecute(); });
  connect(aHelp, &QAction::triggered, this, [this] { aHelpExecute(); });
  connect(aHomePage, &QAction::triggered, this, [this] { aHomePageExecute(); });
  connect(aSupports, &QAction::triggered, this, [this] { aSupportsExecute(); });
  connect(aAbout, &QAction::triggered, this, [this] { aAboutExecute(); });
  connect(aSearch, &QAction::triggered, this, [this] { aSearchExecute(); });
  connect(aView, &QAction::triggered, this, [this] { aViewExecute(); });
  connect(aSearchConvert, &QAction::triggered, this, [this] { aSearchConvertExecute(); });
  connect(aPause, &QAction::triggered, this, [this] { aPauseExecute(); });
  connect(aQuit, &QAction::triggered, this, [this] { aQuitExecute(); });
}

void TkxFrmMain::BuildToolBar() {
  ToolBar = new QToolBar(this);
  ToolBar->setObjectName("ToolBar");
  ToolBar->setIconSize(QSize(16, 16));
  ToolBar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  ToolBar->setMovable(false);
  ToolBar->setFloatable(false);
  pmRecent = new QMenu(this);
  pmRecent->setObjectName("pmRecent");
  connect(pmRecent, &QMenu::aboutToShow, this, [this] { pmRecentPopup(); });
  connect(pmRecent, &QMenu::triggered, this, [this](QAction* item) { OnRecentClick(item); });
  struct TButton {
    QToolButton** Field;
    const char* Name;
    QAction* Action;
    int Image;
  };
  auto add = [&](const TButton& b) {
    b.Action->setIcon(imgList[b.Image]);
    ToolBar->addAction(b.Action);
    auto* w = qobject_cast<QToolButton*>(ToolBar->widgetForAction(b.Action));
    w->setObjectName(b.Name);
    w->setAutoRaise(true);
    // The button takes the action's tooltip, which Qt makes up from the caption when
    // there is no hint; after every change of the action it shows the hint or nothing.
    auto hint = [w, a = b.Action] { w->setToolTip(ActionHint(a)); };
    connect(b.Action, &QAction::changed, w, hint);
    hint();
    *b.Field = w;
  };
  auto separator = [&](QWidget*& field, const char* name) {
    QAction* s = ToolBar->addSeparator();
    field = ToolBar->widgetForAction(s);
    field->setObjectName(name);
  };
  add({&tbOpen, "tbOpen", aOpen, 3});
  tbOpen->setMenu(pmRecent);
  tbOpen->setPopupMode(QToolButton::MenuButtonPopup);
  add({&tbNew, "tbNew", aNew, 4});
  add({&tbConfig, "tbConfig", aConfig, 14});
  add({&tbSave, "tbSave", aSave, 5});
  add({&tbSaveAs, "tbSaveAs", aSaveAs, 6});
  separator(tbSeparatorUpdate, "tbSeparatorUpdate");
  add({&tbUpdate, "tbUpdate", aUpdate, 7});
  separator(tbSeparatorLinks, "tbSeparatorLinks");
  add({&tbHelp, "tbHelp", aHelp, 8});
  add({&tbHomePage, "tbHomePage", aHomePage, 9});
  add({&tbSupports, "tbSupports", aSupports, 10});
  add({&tbAbout, "tbAbout", aAbout, 11});
}

void TkxFrmMain::BuildAction() {
  pAction = new QFrame(this);
  pAction->setObjectName("pAction");
  pAction->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  pAction->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
  auto* rows = new QVBoxLayout(pAction);
  rows->setSpacing(4);

  pSource = MakeRow(pAction, "pSource", "Choose or drag & drop source folder or file(s)");
  eSource = MakeLabelledEdit(pSource, "eSource", "&Source", lblSource);
  bSource = MakeButton(pSource, "bSource", "Folder", "Choose a folder and click \"Search\" to list files");
  bSourceFile = MakeButton(pSource, "bSourceFile", "Files", "Choose file(s) and click \"Convert\" to convert them");
  cSubdir = new QCheckBox("Su&b folders", pSource);
  cSubdir->setObjectName("cSubdir");
  cSubdir->setLayoutDirection(Qt::RightToLeft);  // caption left of the box
  cSubdir->setProperty("hint", "Checked");
  cSubdir->setProperty("tag", -1);
  bSearch = MakeButton(pSource, "bSearch", nullptr, nullptr);
  AddToRow(pSource, {lblSource, eSource, bSource, bSourceFile, cSubdir, bSearch});
  rows->addWidget(pSource);

  pTarget = MakeRow(pAction, "pTarget", "Choose or drag & drop target folder");
  eTarget = MakeLabelledEdit(pTarget, "eTarget", "&Target", lblTarget);
  bTarget = MakeButton(pTarget, "bTarget", "Folder", "Choose a target folder to save the converted file(s)");
  bView = MakeButton(pTarget, "bView", nullptr, nullptr);
  bSearchConvert = MakeButton(pTarget, "bSearchConvert", nullptr, nullptr);
  bCreate = MakeButton(pTarget, "bCreate", nullptr, nullptr);
  // "Start" is hidden while idle; its column keeps its place so the rows stay aligned.
  QSizePolicy keep = bSearchConvert->sizePolicy();
  keep.setRetainSizeWhenHidden(true);
  bSearchConvert->setSizePolicy(keep);
  AddToRow(pTarget, {lblTarget, eTarget, bTarget, bView, bSearchConvert, bCreate});
  rows->addWidget(pTarget);

  pOthers = new QWidget(pAction);
  pOthers->setObjectName("pOthers");
  rows->addWidget(pOthers, 1);

  connect(bSource, &QPushButton::clicked, this, [this] { bSourceClick(); });
  connect(bSourceFile, &QPushButton::clicked, this, [this] { bSourceFileClick(); });
  connect(bTarget, &QPushButton::clicked, this, [this] { bTargetClick(); });
  setTabOrder(eSource, bSource);
  setTabOrder(bSource, bSourceFile);
  setTabOrder(bSourceFile, cSubdir);
  setTabOrder(cSubdir, bSearch);
  setTabOrder(bSearch, eTarget);
  setTabOrder(eTarget, bTarget);
  setTabOrder(bTarget, bSearchConvert);
  setTabOrder(bSearchConvert, bCreate);
  setTabOrder(bCreate, bView);
}

void TkxFrmMain::BuildViewer() {
  pViewer = new QFrame(this);
  pViewer->setObjectName("pViewer");
  pViewer->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  auto* l = new QVBoxLayout(pViewer);
  l->setContentsMargins(1, 1, 1, 1);
  lViewer = new QTreeWidget(pViewer);
  lViewer->setObjectName("lViewer");
  lViewer->setFrameShape(QFrame::NoFrame);
  lViewer->setColumnCount(3);
  lViewer->setHeaderLabels({"@", "File Name", "Result"});
  lViewer->setRootIsDecorated(false);
  lViewer->setUniformRowHeights(true);
  lViewer->setSelectionMode(QAbstractItemView::ExtendedSelection);
  lViewer->setSelectionBehavior(QAbstractItemView::SelectRows);
  lViewer->setEditTriggers(QAbstractItemView::NoEditTriggers);
  lViewer->setIconSize(QSize(16, 16));
  lViewer->setToolTip("Drag & drop file(s) here and click \"Convert\" to convert them");
  QHeaderView* h = lViewer->header();
  // The status column holds the image and nothing else.
  const int imageColumn = std::max(30, lViewer->iconSize().width() + 14);
  h->setMinimumSectionSize(imageColumn);
  h->setSectionResizeMode(0, QHeaderView::Fixed);
  h->resizeSection(0, imageColumn);
  h->resizeSection(1, 370);
  h->resizeSection(2, 370);
  // "Result" takes whatever width is left.
  h->setStretchLastSection(true);
  // A click on a column header sorts by it; a third click returns to the item order.
  h->setSortIndicator(-1, Qt::AscendingOrder);
  h->setSortIndicatorClearable(true);
  lViewer->setSortingEnabled(true);
  connect(h, &QHeaderView::sortIndicatorChanged, this,
          [this](int column, Qt::SortOrder order) { SortIndicatorChanged(column, order); });
  lViewer->setContextMenuPolicy(Qt::CustomContextMenu);
  l->addWidget(lViewer);
  // A double-click or Enter on a row shows its pages.
  connect(lViewer, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* row) { PreviewRow(row); });
  connect(lViewer, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* row) {
    if (FPreview && FPreview->isVisible()) ShowInPreview(ResultRow(row));
  });

  pmList = new QMenu(this);
  pmList->setObjectName("pmList");
  auto item = [this](const char* name, const char* caption) {
    QAction* a = pmList->addAction(caption);
    a->setObjectName(name);
    return a;
  };
  aBrowseFiles = item("aBrowseFiles", "Browse Files");
  pmList->addSeparator();
  aViewSource = item("aViewSource", "View  Source");
  aOpenSource = item("aOpenSource", "Open Source");
  pmList->addSeparator();
  aViewOutput = item("aViewOutput", "View  Output");
  pmList->addSeparator();
  aExportList = item("aExportList", "Export the List");
  connect(aBrowseFiles, &QAction::triggered, this, [this] { bSourceFileClick(); });
  connect(aViewSource, &QAction::triggered, this, [this] { aViewSourceExecute(); });
  connect(aOpenSource, &QAction::triggered, this, [this] { aOpenSourceExecute(); });
  connect(aViewOutput, &QAction::triggered, this, [this] { aViewExecute(); });
  connect(aExportList, &QAction::triggered, this, [this] { aExportListExecute(); });
  connect(pmList, &QMenu::aboutToShow, this, [this] { pmListPopup(); });
  connect(lViewer, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& p) { pmList->popup(lViewer->viewport()->mapToGlobal(p)); });
}

TkxFrmMain::~TkxFrmMain() {
  // Late notifications of ending threads must find nothing; a converter waiting
  // for its end notification is released rather than waited for.
  FSink->Detach();
  FDispatcher.Shutdown();
  FCycle.stop();
  FPoll.stop();
  if (FChain) FChain->TerminateAll();
  ForgetBatch();
  FDisposer.WaitAll();
  FCfg.reset();
}

void TkxFrmMain::RegisterBoundControls() {
  if (!Project) return;
  Project->RegisterControl(eSource);
  Project->RegisterControl(cSubdir);
  Project->RegisterControl(eTarget);
}

void TkxFrmMain::ShowInPreview(TkxResultRow* row) {
  if (!FPreview || !row) return;
  FPreview->ShowDocument(row->ItemIndex(), row->FileName(), row->Status(), row->ResultText(), row->PagePattern());
}

void TkxFrmMain::PreviewRow(QTreeWidgetItem* item) {
  TkxResultRow* row = ResultRow(item);
  if (!row) return;
  if (!FPreview) FPreview = new TkxFrmPreview(this);
  ShowInPreview(row);
  FPreview->show();
  FPreview->raise();
  FPreview->activateWindow();
}

void TkxFrmMain::keyPressEvent(QKeyEvent* e) {
  // Escape would reject a dialog; the main window closes only when asked to.
  if (e->key() == Qt::Key_Escape) {
    e->ignore();
    return;
  }
  TkxFrmBase::keyPressEvent(e);
}

void TkxFrmMain::showEvent(QShowEvent* e) {
  TkxFrmBase::showEvent(e);
  if (FShownOnce) return;
  FShownOnce = true;
  AutoRunCheck();
}

// ---- search, list and the choosers

void TkxFrmMain::UpdateTitle() {
  std::string title = Project ? Project->Title : std::string();
  // A project file not written yet (the default project before its first save) is none.
  std::string file = ProjectHasFile() ? DisplayPath(Project->FileName) : std::string("None");
  setWindowTitle(Q(title + " - " + file + (ProjectModified() ? "*" : "")));
}

bool TkxFrmMain::ProjectHasFile() const {
  return Project && !Project->FileName.empty() && FileExists(Project->FileName);
}

std::string TkxFrmMain::ShownSettings() const {
  if (!Project) return std::string();
  TkxStringList settings = Project->SettingsCopy();
  settings.SetValue("Source", S(eSource->text()));
  settings.SetValue("Subdir", cSubdir->isChecked() ? "True" : "False");
  settings.SetValue("Target", S(eTarget->text()));
  return settings.GetText();
}

bool TkxFrmMain::ProjectModified() const {
  std::string now = ShownSettings();
  if (now == FUnmodified) return false;
  if (ProjectHasFile()) return true;
  auto beyondFields = [](const std::string& text) {
    TkxStringList l;
    l.SetText(text);
    for (const char* key : {"Source", "Subdir", "Target"}) l.SetValue(key, "");
    return l.GetText();
  };
  return beyondFields(now) != beyondFields(FUnmodified);
}

void TkxFrmMain::MarkUnmodified() {
  FUnmodified = ShownSettings();
  UpdateTitle();
}

template <class F>
void TkxFrmMain::ReplaceProject(F&& command) {
  std::string settings = ShownSettings(), file = Project->FileName;
  command();
  // A chooser cancelled leaves the project as it was, modified or not.
  if (ShownSettings() != settings || Project->FileName != file)
    MarkUnmodified();
  else
    UpdateTitle();
}

bool TkxFrmMain::AskToKeepChanges(const QString& before) {
  if (!ProjectModified()) return true;
  QString name = ProjectHasFile() ? " \"" + Q(DisplayPath(ExtractFileName(Project->FileName))) + "\"" : QString();
  QMessageBox box(QMessageBox::Warning, windowTitle(), "The project" + name + " has changes that are not saved.",
                  QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, this);
  box.setObjectName("msgUnsaved");
  box.setInformativeText("Save them before " + before + "?");
  box.setDefaultButton(QMessageBox::Save);
  box.setEscapeButton(QMessageBox::Cancel);
  int answer = box.exec();
  if (answer == QMessageBox::Discard) return true;
  if (answer != QMessageBox::Save) return false;
  aSaveExecute();
  return !ProjectModified();  // a save cancelled in its chooser keeps the project
}

bool TkxFrmMain::MayClose() {
  if (FInRun) {
    TkxRunTotals t = FBatch ? FBatch->Totals() : TkxRunTotals();
    QMessageBox box(QMessageBox::Question, windowTitle(),
                    QString("A run is going on: %1 of %2 documents are done.").arg(t.Done()).arg(t.Found), {}, this);
    box.setObjectName("msgRunning");
    box.setInformativeText(
        "Stop it and close the window? The documents in hand are finished first; the others are "
        "left as they are.");
    QPushButton* stop = box.addButton("&Stop and Close", QMessageBox::AcceptRole);
    box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(QMessageBox::Cancel);
    box.setEscapeButton(QMessageBox::Cancel);
    box.exec();
    if (box.clickedButton() != stop) return false;
  }
  if (!AskToKeepChanges("closing the window")) return false;
  if (FInRun) aStopExecute();
  return true;
}

void TkxFrmMain::closeEvent(QCloseEvent* e) {
  // The unattended modes close by themselves: nothing to ask and nothing to remember.
  if (!FUnattendedClose) {
    if (!MayClose()) {
      e->ignore();
      return;
    }
    SaveWindowState();
  }
  TkxFrmBase::closeEvent(e);
}

void TkxFrmMain::Refuse(const QString& why, QWidget* field) {
  sbStatus->ShowProblem(why);
  if (field) field->setFocus();
}

bool TkxFrmMain::Busy() const { return FInRun || (FBatch && FBatch->Started() && !FBatch->SearchDone()); }

void TkxFrmMain::ForgetBatch() {
  std::unique_ptr<TkxBatch> old = std::move(FBatch);
  ++FGeneration;
  std::vector<std::shared_ptr<TkxChain>> chains;
  chains.swap(FBatchChains);
  try {
    FDisposer.Dispose(std::move(old), std::move(chains));
  } catch (const std::exception& e) {
    // Releasing the old list does not stop the new one; the user hears of it.
    sbStatus->ShowProblem(QString("The previous list could not be released: ") + e.what());
  }
}

void TkxFrmMain::NewBatch() {
  // What was said of the old list is no problem of the new one.
  sbStatus->ClearProblem();
  FSearchProblemsShown = 0;
  FNoMatchSaid = false;
  FPaused = false;
  FSearched.clear();
  ForgetBatch();
  FBatch = std::make_unique<TkxBatch>();
  FRows.clear();
  lViewer->clear();
  sbStatus->ClearTotals();
  if (FPreview) FPreview->Clear();
  uint64_t gen = FGeneration;
  std::shared_ptr<TkxRowSink> sink = FSink;
  FBatch->OnNodeAdded = [sink, gen](TkxBatch*, TkxNode* node) {
    int index = node->Index;
    if (TkxFrmMain* w = QThread::currentThread() == qApp->thread() ? sink->Window() : nullptr) {
      w->RowChanged(gen, index, false, TkxNode::Running, std::string(), std::string());
      return;
    }
    sink->Post([gen, index](TkxFrmMain* w) {
      w->RowChanged(gen, index, false, TkxNode::Running, std::string(), std::string());
    });
  };
}

void TkxFrmMain::SetDefaultTarget(const std::string& folder) {
  if (Project && Project->TargetFromSource && eTarget->text().isEmpty()) eTarget->setText(Q(folder));
}

void TkxFrmMain::OpenSelected(bool folderOnly) {
  const TkxResultRow* row = nullptr;
  for (int i = 0; i < lViewer->topLevelItemCount() && !row; ++i)
    if (lViewer->topLevelItem(i)->isSelected()) row = ResultRow(lViewer->topLevelItem(i));
  if (!row) return;
  const std::string& file = row->FileName();  // not the shown text: names need not be UTF-8
  ShellOpen(folderOnly ? ExtractFilePath(file) : file);
}

void TkxFrmMain::bSourceClick() {
  std::string folder = ExtractFilePath(S(eSource->text()));
  std::string chosen = BrowseFolder(folder);
  // Cancelled with no folder to begin with: nothing to write back.
  if (chosen.empty()) return;
  chosen = IncludeTrailingPathDelimiter(chosen);
  eSource->setText(Q(chosen + (Project ? Project->SourceMask : std::string("*.doc?"))));
  SetDefaultTarget(chosen);
}

void TkxFrmMain::bSourceFileClick() {
  if (Busy()) {
    Refuse(kListInUse);
    return;
  }
  std::string files = S(eSource->text());
  if (!PromptOpenFile(Project ? Project->DocFilter : std::string(), files, true)) return;
  files = Trim(files);
  if (files.find('\n') == std::string::npos) eSource->setText(Q(files));
  NewBatch();
  TkxStringList lines;
  lines.SetText(files);
  for (int i = 0; i < lines.Count(); ++i) {
    std::string f = Trim(lines[i]);
    if (!f.empty()) ShowNode(f, nullptr);
  }
}

void TkxFrmMain::bTargetClick() {
  std::string chosen = BrowseFolder(S(eTarget->text()));
  if (chosen.empty()) return;
  eTarget->setText(Q(IncludeTrailingPathDelimiter(chosen)));
}

void TkxFrmMain::aSearchExecute() {
  if (Busy()) {
    Refuse(kListInUse);
    return;
  }
  std::string source = S(eSource->text());
  if (source.empty()) {
    Refuse("Nothing to search: type or choose a source (a folder, documents or a web address)", eSource);
    AfterRun();
    return;
  }
  NewBatch();
  // The batch reads the source as a console run does (a folder, a mask, documents,
  // web addresses, several of them) and lists each folder in name order. An empty
  // target makes nothing: the run names the real one.
  FSearched = source;
  FBatch->Start(source, S(eTarget->text()), cSubdir->isChecked());
  StartPolling();
}

void TkxFrmMain::aViewExecute() {
  if (eTarget->text().isEmpty()) {
    Refuse("No target folder to show: type or choose one", eTarget);
    return;
  }
  ShellOpen(S(eTarget->text()));
}

void TkxFrmMain::pmListPopup() {
  bool selected = !lViewer->selectedItems().isEmpty();
  aOpenSource->setEnabled(selected);
  aViewSource->setEnabled(selected);
}

void TkxFrmMain::aExportListExecute() {
  std::string path;
  if (!PromptSaveFile("Log File|*.log", ".log", path)) return;
  try {
    ExportList(path);
  } catch (const std::exception& e) {
    // Said where the user looks; the error report follows as for every failed command.
    sbStatus->ShowProblem(Q("The list was not exported: " + std::string(e.what())));
    throw;
  }
  sbStatus->ShowProblem(QString());
}

void TkxFrmMain::DropFiles(const QPoint& pos, const std::vector<std::string>& files) {
  DropFilesOn(childAt(pos), files);
}

void TkxFrmMain::DropFilesOn(QWidget* at, const std::vector<std::string>& files) {
  QLineEdit* edit = nullptr;
  bool list = false;
  for (QWidget* w = at; w && w != this; w = w->parentWidget()) {
    if (w == eSource || w == eTarget) edit = static_cast<QLineEdit*>(w);
    if (w == lViewer) list = true;
  }
  if (!edit && !list) return;
  for (size_t i = 0; i < files.size(); ++i) {
    const std::string& file = files[i];
    if (files.size() == 1 && Project && Project->IsProjectFile(file)) {
      if (!AskToKeepChanges("opening another project")) return;
      ReplaceProject([&] {
        Project->FileName = file;
        Project->OpenProject(true);
      });
      return;
    }
    if (edit) {
      if (edit == eSource && DirectoryExists(file)) {
        // A folder is searched with the edition's mask, as if chosen with "Folder".
        std::string folder = IncludeTrailingPathDelimiter(file);
        edit->setText(Q(folder + (Project ? Project->SourceMask : std::string("*.doc?"))));
        SetDefaultTarget(folder);
        return;
      }
      edit->setText(Q(file));
      SetDefaultTarget(ExtractFilePath(file));
      return;
    }
    if (i == 0) {
      if (Busy()) {
        Refuse(kListInUse);  // the running batch keeps its list
        return;
      }
      NewBatch();
    }
    ShowNode(file, nullptr);
  }
}

bool TkxFrmMain::eventFilter(QObject* watched, QEvent* e) {
  auto* w = qobject_cast<QWidget*>(watched);
  if (!w) return false;
  if (e->type() == QEvent::MouseButtonDblClick && (w == eSource || w == eTarget)) {
    if (w == eSource)
      bSourceFileClick();
    else
      bTargetClick();
    return true;
  }
  if (e->type() == QEvent::DragEnter || e->type() == QEvent::DragMove) {
    auto* d = static_cast<QDropEvent*>(e);
    if (!d->mimeData()->hasUrls()) return false;
    d->acceptProposedAction();
    return true;
  }
  if (e->type() == QEvent::Drop) {
    auto* d = static_cast<QDropEvent*>(e);
    if (!d->mimeData()->hasUrls()) return false;
    std::vector<std::string> files = DroppedFiles(d->mimeData());
    d->acceptProposedAction();
    if (!files.empty()) DropFilesOn(w, files);
    return true;
  }
  return false;
}

// ---- running, pausing and stopping

QTreeWidgetItem* TkxFrmMain::ShowNode(const std::string& fileName, TkxNode* node) {
  if (!node) {
    SetDefaultTarget(ExtractFilePath(fileName));
    if (FBatch) FBatch->AddFile(fileName);
    return nullptr;
  }
  RowChanged(FGeneration, node->Index, false, TkxNode::Running, std::string(), std::string());
  return RowOfItem(node->Index);
}

TkxResultRow* TkxFrmMain::RowOfItem(int index) const {
  return index >= 0 && size_t(index) < FRows.size() ? FRows[size_t(index)] : nullptr;
}

void TkxFrmMain::RowChanged(uint64_t gen, int index, bool done, int status, const std::string& result,
                            const std::string& pagePattern) {
  if (gen != FGeneration || !FBatch || index < 0) return;  // a forgotten batch's news
  int rows = int(FRows.size());
  if (rows <= index) {
    // Rows are made in item order; whatever arrives first makes the rows before it too.
    // Only the names are read under the lock; the rows are made after it.
    std::vector<std::string> names = WithLockedItems(*FBatch, [&](const TkxBatch::TItems& items) {
      std::vector<std::string> r;
      for (int i = rows; i <= index && i < int(items.size()); ++i) r.push_back(items[size_t(i)]->FileName);
      return r;
    });
    QList<QTreeWidgetItem*> fresh;
    for (const std::string& name : names) {
      auto* row = new TkxResultRow(int(FRows.size()), name);
      row->setIcon(0, imgList[0]);
      FRows.push_back(row);
      fresh << row;
    }
    lViewer->addTopLevelItems(fresh);
  }
  TkxResultRow* row = RowOfItem(index);
  if (!row || !done) return;
  int image = status >= 0 && status < kImageCount ? status : int(TkxNode::Running);
  row->SetResult(status, result, pagePattern, imgList[image]);
  if (FPreview && FPreview->isVisible() && FPreview->ItemIndex() == index) ShowInPreview(row);
}

void TkxFrmMain::SortIndicatorChanged(int column, Qt::SortOrder) {
  if (column >= 0) return;  // the view sorts by itself
  // No sort column: back to the item order.
  QTreeWidgetItem* current = lViewer->currentItem();
  QList<QTreeWidgetItem*> selected = lViewer->selectedItems();
  lViewer->setSortingEnabled(false);
  while (lViewer->topLevelItemCount() > 0) lViewer->takeTopLevelItem(0);
  QList<QTreeWidgetItem*> rows;
  for (TkxResultRow* r : FRows) rows << r;
  lViewer->addTopLevelItems(rows);
  lViewer->setSortingEnabled(true);
  for (QTreeWidgetItem* r : selected) r->setSelected(true);
  if (current) lViewer->setCurrentItem(current, 0, QItemSelectionModel::NoUpdate);
}

void TkxFrmMain::aConvertExecute() {
  // One run at a time: a second chain on the same batch would double every end.
  if (FInRun) return;
  // A Convert during the loop's wait is that cycle, started now.
  EndWait();
  std::string target = S(eTarget->text());
  // Cut wildcards and file names off the target until a folder remains.
  while (!target.empty()) {
    std::string bare = target;
    if (bare.size() > 1 && bare.back() == '/') bare.pop_back();
    bool cut = target.find_first_of("?*") != std::string::npos || FileExists(bare);
    if (!cut) break;
    std::string folder = ExtractFilePath(bare);
    if (folder.size() >= target.size()) folder.clear();  // no progress: nothing usable is left
    target = folder;
  }
  eTarget->setText(Q(target));
  if (target.empty()) {
    Refuse("Nothing was converted: type or choose a target folder for the page images", eTarget);
    AfterRun();
    return;
  }
  if (Project && Project->PathDelim == '/' && !DirectoryExists(TkxBatch::NormalizePath(target))) {
    try {
      ForceDirectories(TkxBatch::NormalizePath(target));
    } catch (const std::exception&) {
      // Each converter reports a folder it cannot create, document by document.
    }
  }
  if (target.back() != '/') eTarget->setText(Q(target + "/"));
  if (Project) Project->StoreSettings(false);
  if (!FBatch) aSearchExecute();
  if (FBatch && FBatch->Drained()) aSearchExecute();
  if (!FBatch) return;

  EnableStartActions(false);
  TkxConvertor* head = nullptr;
  std::shared_ptr<TkxRowSink> sink = FSink;
  uint64_t gen = FGeneration;
  try {
    head = TkxConvertor::CreateChain(FBatch.get(), S(eTarget->text()), [sink, gen](TkxBatch*, TkxNode* node) {
      int index = node->Index, status = node->Status;
      std::string result = node->ResultText, pattern = node->PagePattern;
      sink->Post([=](TkxFrmMain* w) { w->RowChanged(gen, index, true, status, result, pattern); });
    });
  } catch (...) {
    EnableStartActions(true);
    throw;
  }
  FChain = head->Chain();
  FBatchChains.push_back(FChain);
  FRunning = head->ThreadsLeft;
  FInRun = true;
  uint64_t serial = ++FRunSerial;
  head->SetOnFinishAll([sink, serial] {
    if (TkxFrmMain* w = sink->Window()) w->ChainEnded(serial);
  });
  aStop->setEnabled(true);
  LinkButton(bCreate, aPause);
  aPause->setEnabled(true);
  LinkButton(bSearchConvert, aStop);
  sbStatus->ClearProblem();
  FSearchProblemsShown = 0;  // said again while the list lacks their documents
  FPagesAtStart = FBatch->Totals().Pages;
  FRunClock.start();
  head->ResumeAll();
  CountRunStart();
  FStopped = false;
  FPaused = false;
  StartPolling();
}

void TkxFrmMain::EnableStartActions(bool on) {
  for (QAction* a : {aConvert, aSearchConvert, aSearch, aBrowseFiles}) a->setEnabled(on);
  // "Files" fills a new list, which waits until the run has ended.
  bSourceFile->setEnabled(on);
}

void TkxFrmMain::aSearchConvertExecute() {
  aSearchExecute();
  aConvertExecute();
}

void TkxFrmMain::aPauseExecute() {
  aPause->setEnabled(false);
  // In the unattended loop Stop stays within reach: it ends the loop, not just this cycle.
  aStop->setEnabled(Project && Project->Daemon() > 0 && !FStopped);
  if (FChain) FChain->TerminateAll();
  aStop->setData(kRunNotStopped);
  FPaused = FInRun;
  UpdateStatus();
}

void TkxFrmMain::aStopExecute() {
  FStopped = true;
  if (!FInRun) {
    // Between two cycles of the loop: the loop ends here, the list stays.
    EndWait();
    UpdateStatus();
    return;
  }
  aPause->setEnabled(false);
  aStop->setEnabled(false);
  FPaused = false;
  if (FBatch) FBatch->Terminate();
  if (FChain) FChain->TerminateAll();
  aStop->setData(kRunStopped);
  UpdateStatus();
}

void TkxFrmMain::ChainEnded(uint64_t serial) {
  if (serial == FRunSerial && FInRun) OnFinish();
}

void TkxFrmMain::OnFinish() {
  if (--FRunning > 0) return;
  FInRun = false;
  EnableStartActions(true);
  LinkButton(bCreate, aConvert);
  LinkButton(bSearchConvert, aSearchConvert);
  aStop->setEnabled(false);
  UpdateStatus();
  if (FBatch) ReportRunEnd(*FBatch);
  if (aStop->data().toInt() == kRunStopped) {
    ForgetBatch();
    aStop->setData(kRunNotStopped);
  }
  AfterRun();
}

void TkxFrmMain::AfterRun() {
  if (!Project || !Project->AutoRun()) return;
  std::string logFile = Project->GetOption("LogFile");
  if (!logFile.empty()) {
    // Reported, but the close or the next cycle follows all the same.
    try {
      ExportList(logFile);
    } catch (const std::exception& e) {
      sbStatus->ShowProblem(Q("The run log was not written: " + std::string(e.what())));
      if (Info) Info->HandleError(e.what());
    } catch (...) {
      if (Info) Info->HandleError("Unexpected error");
    }
  }
  // Both steps wait for the message loop: the end notification that led here
  // must return first, and a waiting cycle never nests in the one before it.
  if (Project->Daemon() <= 0) {
    QTimer::singleShot(0, this, [this] {
      FUnattendedClose = true;
      close();
    });
    return;
  }
  if (!FStopped) StartWait(Project->Daemon());
}

void TkxFrmMain::StartWait(int ms) {
  // One pending cycle at most: a second request only sets its time anew.
  FCycle.start(ms);
  aStop->setEnabled(true);
  if (!FInRun) LinkButton(bSearchConvert, aStop);
  StartPolling();
}

void TkxFrmMain::EndWait() {
  FCycle.stop();
  if (FInRun) return;
  LinkButton(bSearchConvert, aSearchConvert);
  aStop->setEnabled(false);
}

void TkxFrmMain::AutoRunCheck() {
  if (Project && Project->AutoRun()) aConvertExecute();
}

void TkxFrmMain::StartPolling() {
  UpdateStatus();
  if (!FPoll.isActive()) FPoll.start();
}

void TkxFrmMain::UpdateStatus() {
  if (FBatch) {
    TkxRunTotals t = FBatch->Totals();
    double rate = -1;
    if (FInRun && FRunClock.isValid() && FRunClock.elapsed() >= 1000)
      rate = (t.Pages - FPagesAtStart) * 1000.0 / double(FRunClock.elapsed());
    sbStatus->ShowTotals(t, FInRun, rate);
    ShowSearchProblems();
  } else {
    sbStatus->pbRun->hide();
  }
  // Where the run stands when the counts alone would read like a finished run.
  const bool daemon = Project && Project->Daemon() > 0;
  QString state;
  if (FCycle.isActive())
    state = QString("Next run in %1 s").arg((FCycle.remainingTime() + 999) / 1000);
  else if (daemon && FStopped)
    state = "Loop stopped";
  else if (FInRun && !aPause->isEnabled())
    state = FStopped ? "Stopping: the documents in hand are finished first"
                     : "Pausing: the documents in hand are finished first";
  else if (daemon && FInRun)
    state = "Unattended run";
  else if (!FInRun && FPaused && FBatch && !FBatch->Drained())
    state = "Paused";
  else if (!FInRun && FStopped && RowCount() > 0)
    state = "Stopped";
  sbStatus->ShowCycle(state);
  if (!Busy() && !FCycle.isActive()) FPoll.stop();
}

void TkxFrmMain::ShowSearchProblems() {
  std::vector<TkxSearchProblem> problems = FBatch->SearchProblems();
  TkxRunTotals t = FBatch->Totals();
  if (problems.empty() && t.SearchDone && t.Found == 0 && !FSearched.empty() && !FNoMatchSaid &&
      !FBatch->Terminated()) {
    FNoMatchSaid = true;
    std::string folder = ExtractFilePath(TkxBatch::NormalizePath(FSearched));
    if (!folder.empty() && !DirectoryExists(folder))
      sbStatus->ShowProblem(Q("The source folder " + DisplayPath(folder) + " does not exist"));
    else
      sbStatus->ShowProblem(Q("No document matches " + DisplayPath(FSearched) +
                              (cSubdir->isChecked() ? "" : "; \"Sub folders\" also searches its sub folders")));
  }
  if (problems.size() == FSearchProblemsShown) return;
  FSearchProblemsShown = problems.size();
  std::string text = problems.front().Text();
  if (problems.size() > 1) text += " (and " + std::to_string(problems.size() - 1) + " more folders)";
  sbStatus->ShowProblem(Q(text));
}

void TkxFrmMain::ExportList(const std::string& path) {
  // In item order, whatever order the view is sorted in.
  TkxStringList lines;
  for (const TkxResultRow* row : FRows)
    lines.Add("[" + std::string(StatusWord(row->Status())) + "] => " + DisplayPath(row->FileName()) + " => " +
              row->ResultText());
  lines.SaveToFile(path);
}

// ---- project commands and links

void TkxFrmMain::aOpenExecute() {
  if (!AskToKeepChanges("opening another project")) return;
  ReplaceProject([this] {
    try {
      Project->OpenProject(false);
    } catch (const std::exception& e) {
      // Said where the user looks; the error report follows as for every failed command.
      sbStatus->ShowProblem(Q("The project was not opened: " + std::string(e.what())));
      UpdateTitle();
      throw;
    }
  });
}

void TkxFrmMain::pmRecentPopup() {
  pmRecent->clear();
  for (int i = 0; i < Project->RecentFiles.Count(); ++i) {
    const std::string& file = Project->RecentFiles[i];
    // "&&" shows one ampersand: the caption is the path exactly.
    QAction* item = pmRecent->addAction(Q(ReplaceAll(DisplayPath(file), "&", "&&")));
    item->setData(QByteArray::fromStdString(file));  // the name's bytes, for opening it
    item->setEnabled(FileExists(file));
  }
}

void TkxFrmMain::OnRecentClick(QAction* item) {
  if (!item) return;
  if (!AskToKeepChanges("opening another project")) return;
  ReplaceProject([&] {
    Project->FileName = item->data().toByteArray().toStdString();
    Project->OpenProject(true);
  });
}

void TkxFrmMain::aNewExecute() {
  if (!AskToKeepChanges("starting a new project")) return;
  ReplaceProject([] { Project->NewProject(); });
}

void TkxFrmMain::aConfigExecute() {
  if (!FCfg) FCfg = std::make_unique<TkxFrmCfg>(this);
  if (FCfg->exec() == QDialog::Accepted) {
    // Values the console would warn about are said here too.
    std::vector<std::string> warnings = FCfg->Warnings();
    if (!warnings.empty())
      sbStatus->ShowProblem(Q("Config: " + warnings.front() +
                              (warnings.size() > 1 ? " (and " + std::to_string(warnings.size() - 1) + " more)" : "")));
  }
  UpdateTitle();
}

template <class F>
void TkxFrmMain::SaveWith(F&& save) {
  save();
  // Saved when the project's file holds what the window shows (not after a cancelled chooser).
  bool saved = false;
  if (ProjectHasFile()) {
    try {
      TkxStringList file;
      file.LoadFromFile(Project->FileName);
      saved = file.GetText() == Project->GetSettingsText();
    } catch (const std::exception&) {
    }
  }
  if (saved)
    MarkUnmodified();
  else
    UpdateTitle();
}

void TkxFrmMain::aSaveExecute() {
  // A project with no file yet (the caption says "None", also for the default project
  // before its first save) is saved where the user says, the default file offered.
  SaveWith([this] {
    if (ProjectHasFile())
      Project->SaveProject();
    else
      Project->SaveProjectAs();
  });
}

void TkxFrmMain::aSaveAsExecute() {
  SaveWith([] { Project->SaveProjectAs(); });
}

void TkxFrmMain::aUpdateExecute() {
  if (Info) Info->OpenLink("download", "", "");
}

void TkxFrmMain::aHelpExecute() {
  if (!Info) return;
  Info->OpenLink("h", "", "");
  Info->Count(counter::kHelp, 0, 1);
}

void TkxFrmMain::aHomePageExecute() {
  if (Info) Info->OpenLink("", "", "");
}

void TkxFrmMain::aSupportsExecute() {
  if (Info) Info->OpenLink("supports", "", "");
}

void TkxFrmMain::aAboutExecute() {
  if (FrmAbout) FrmAbout->ShowAbout();
}

}  // namespace kx
