#include "ui/kxFormMain.h"

#include <mutex>

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMimeData>
#include <QScreen>
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

// The hint an action was given; Qt's own tooltip falls back to the caption.
static QString ActionHint(const QAction* a) { return a->property("hint").toString(); }

namespace {

// aStop's data: whether Stop ended the run, so that its end forgets the batch.
constexpr int kRunNotStopped = 0, kRunStopped = 1;

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

static QPushButton* MakeButton(QWidget* parent, const char* name, const char* caption, QRect r, const char* hint) {
  auto* b = new QPushButton(parent);
  b->setObjectName(name);
  if (caption) b->setText(caption);
  if (hint) b->setToolTip(QString::fromUtf8(hint));
  b->setGeometry(r);
  b->setAutoDefault(false);
  return b;
}

// One row of the action panel: a fixed height, its own hint.
static QWidget* MakeRow(QWidget* parent, const char* name, int height, const char* hint) {
  auto* row = new QWidget(parent);
  row->setObjectName(name);
  row->setFixedHeight(height);
  row->setToolTip(hint);
  return row;
}

// A labelled edit: the label stands left of the edit, 4 pixels apart.
static QLineEdit* MakeLabelledEdit(QWidget* parent, const char* name, const char* caption, QRect r, QLabel*& label) {
  auto* e = new QLineEdit(parent);
  e->setObjectName(name);
  e->setGeometry(r);
  e->setProperty("hint", "Text");  // the bound property, not a tooltip
  e->setProperty("tag", -1);
  label = new QLabel(caption, parent);
  label->setObjectName(QString("lbl") + (name + 1));
  label->setBuddy(e);
  label->adjustSize();
  label->move(r.left() - 4 - label->width(), r.top() + (r.height() - label->height()) / 2);
  return e;
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
  UpdateTitle();
  for (QWidget* w : {static_cast<QWidget*>(eSource), static_cast<QWidget*>(eTarget), lViewer->viewport()}) {
    w->setAcceptDrops(true);
    w->installEventFilter(this);
  }
  setMinimumSize(MinimumWindowSize());
  QScreen* screen = QGuiApplication::primaryScreen();
  resize(OpeningSize(screen ? screen->availableGeometry().size() : QSize(1200, 600), minimumSize()));
  CentreOnScreen();
}

QSize TkxFrmMain::OpeningSize(const QSize& available, const QSize& minimum) {
  // Room for the window's frame and title bar, which are not known before it shows.
  QSize room = available - QSize(16, 48);
  return QSize(1200, 600).boundedTo(room).expandedTo(minimum);
}

QSize TkxFrmMain::MinimumWindowSize() const {
  // Every control of the action panel whole (Search and Convert are its rightmost),
  // and a few rows of the list under it.
  int right = 0;
  for (QWidget* row : {pSource, pTarget})
    for (QWidget* c : row->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
      right = std::max(right, c->geometry().right() + 1);
  int frame = pAction->frameWidth() + pAction->layout()->contentsMargins().left();
  int width = right + 2 * frame + 2;
  int height = ToolBar->height() + pAction->height() + pSpacer->height() + 120 + sbStatus->sizeHint().height();
  return QSize(width, height);
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
  aStop->setIcon(imgList[15]);
  aConvert->setIcon(imgList[0]);

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
}

void TkxFrmMain::BuildToolBar() {
  ToolBar = new QToolBar(this);
  ToolBar->setObjectName("ToolBar");
  ToolBar->setIconSize(QSize(16, 16));
  ToolBar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  ToolBar->setMovable(false);
  ToolBar->setFloatable(false);
  ToolBar->setFixedHeight(24);
  ToolBar->setContentsMargins(0, 0, 0, 0);
  ToolBar->layout()->setContentsMargins(0, 0, 0, 0);
  ToolBar->layout()->setSpacing(0);
  pm2 = new QMenu(this);
  pm2->setObjectName("pm2");
  connect(pm2, &QMenu::aboutToShow, this, [this] { pm2Popup(); });
  connect(pm2, &QMenu::triggered, this, [this](QAction* item) { OnRecentClick(item); });
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
    w->setFixedSize(101, 22);
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
    field->setFixedWidth(8);
  };
  add({&tbOpen, "tbOpen", aOpen, 3});
  tbOpen->setMenu(pm2);
  tbOpen->setPopupMode(QToolButton::MenuButtonPopup);
  add({&tbNew, "tbNew", aNew, 4});
  add({&tbConfig, "tbConfig", aConfig, 14});
  add({&tbSave, "tbSave", aSave, 5});
  add({&tbSaveAs, "tbSaveAs", aSaveAs, 6});
  separator(tb1, "tb1");
  add({&tbUpdate, "tbUpdate", aUpdate, 7});
  separator(tb2, "tb2");
  add({&tbHelp, "tbHelp", aHelp, 8});
  add({&tbHomePage, "tbHomePage", aHomePage, 9});
  add({&tbSupports, "tbSupports", aSupports, 10});
  add({&tbAbout, "tbAbout", aAbout, 11});
}

void TkxFrmMain::BuildAction() {
  pAction = new QFrame(this);
  pAction->setObjectName("pAction");
  pAction->setFixedHeight(70);
  pAction->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  auto* rows = new QVBoxLayout(pAction);
  rows->setContentsMargins(1, 1, 1, 1);
  rows->setSpacing(0);

  pSource = MakeRow(pAction, "pSource", 32, "Choose or drag & drop source folder or file(s)");
  eSource = MakeLabelledEdit(pSource, "eSource", "&Source", QRect(50, 10, 500, 21), lblSource);
  bSource = MakeButton(pSource, "bSource", "Folder", QRect(550, 9, 38, 23),
                       "Choose a folder and click \"Search\" to list files");
  bSourceFile = MakeButton(pSource, "bSourceFile", "Files", QRect(588, 9, 38, 23),
                           "Choose file(s) and click \"Convert\" to convert them");
  cSubdir = new QCheckBox("Su&b folders", pSource);
  cSubdir->setObjectName("cSubdir");
  cSubdir->setGeometry(634, 12, 74, 17);
  cSubdir->setLayoutDirection(Qt::RightToLeft);  // caption left of the box
  cSubdir->setProperty("hint", "Checked");
  cSubdir->setProperty("tag", -1);
  bSearch = MakeButton(pSource, "bSearch", nullptr, QRect(710, 9, 76, 23), nullptr);
  rows->addWidget(pSource);

  pTarget = MakeRow(pAction, "pTarget", 30, "Choose or drag & drop target folder");
  eTarget = MakeLabelledEdit(pTarget, "eTarget", "&Target", QRect(50, 6, 500, 21), lblTarget);
  bTarget = MakeButton(pTarget, "bTarget", "Folder", QRect(550, 5, 38, 23),
                       "Choose a target folder to save the converted file(s)");
  bView = MakeButton(pTarget, "bView", nullptr, QRect(588, 5, 38, 23), nullptr);
  bSearchConvert = MakeButton(pTarget, "bSearchConvert", nullptr, QRect(630, 5, 76, 23), nullptr);
  bCreate = MakeButton(pTarget, "bCreate", nullptr, QRect(710, 5, 76, 23), nullptr);
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
  h->setMinimumSectionSize(30);
  h->setSectionResizeMode(0, QHeaderView::Fixed);
  h->resizeSection(0, 30);
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
  connect(lViewer, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* row) { PreviewRow(row); });
  connect(lViewer, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* row) {
    if (FPreview && FPreview->isVisible()) ShowInPreview(ResultRow(row));
  });

  pm1 = new QMenu(this);
  pm1->setObjectName("pm1");
  BrowseFiles1 = pm1->addAction("Browse Files");
  BrowseFiles1->setObjectName("BrowseFiles1");
  pm1->addSeparator();
  ViewSource1 = pm1->addAction("View  Source");
  ViewSource1->setObjectName("ViewSource1");
  OpenSource1 = pm1->addAction("Open Source");
  OpenSource1->setObjectName("OpenSource1");
  pm1->addSeparator();
  ViewOutput1 = pm1->addAction("View  Output");
  ViewOutput1->setObjectName("ViewOutput1");
  pm1->addSeparator();
  ExportList1 = pm1->addAction("Export the List");
  ExportList1->setObjectName("ExportList1");
  connect(BrowseFiles1, &QAction::triggered, this, [this] { bSourceFileClick(); });
  connect(ViewSource1, &QAction::triggered, this, [this] { ViewSource1Click(); });
  connect(OpenSource1, &QAction::triggered, this, [this] { OpenSource1Click(); });
  connect(ViewOutput1, &QAction::triggered, this, [this] { aViewExecute(); });
  connect(ExportList1, &QAction::triggered, this, [this] { ExportList1Click(); });
  connect(pm1, &QMenu::aboutToShow, this, [this] { pm1Popup(); });
  connect(lViewer, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& p) { pm1->popup(lViewer->viewport()->mapToGlobal(p)); });
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
  FPreview->ShowDocument(row->ItemIndex(), row->FileName(), row->Status(), row->ResultText());
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
  std::string file = Project ? Project->FileName : std::string();
  setWindowTitle(Q(title + " - " + (file.empty() ? std::string("None") : file)));
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
  // The old list's unread folders are no problem of the new one.
  if (FSearchProblemsShown > 0) sbStatus->ClearProblem();
  FSearchProblemsShown = 0;
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
      w->RowChanged(gen, index, false, TkxNode::Running, std::string());
      return;
    }
    sink->Post([gen, index](TkxFrmMain* w) { w->RowChanged(gen, index, false, TkxNode::Running, std::string()); });
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
  if (Busy()) return;
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
  if (Busy()) return;
  std::string source = S(eSource->text());
  if (source.empty()) {
    eSource->setFocus();
    AfterRun();
    return;
  }
  NewBatch();
  // The batch reads the source as a console run does (a folder, a mask, documents,
  // web addresses, several of them) and lists each folder in name order. An empty
  // target makes nothing: the run names the real one.
  FBatch->Start(source, S(eTarget->text()), cSubdir->isChecked());
  StartPolling();
}

void TkxFrmMain::aViewExecute() {
  if (eTarget->text().isEmpty()) {
    eTarget->setFocus();
    return;
  }
  ShellOpen(S(eTarget->text()));
}

void TkxFrmMain::pm1Popup() {
  bool selected = !lViewer->selectedItems().isEmpty();
  OpenSource1->setEnabled(selected);
  ViewSource1->setEnabled(selected);
}

void TkxFrmMain::ExportList1Click() {
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

void TkxFrmMain::DropFiles(const QPoint& pos, const QStringList& files) { DropFilesOn(childAt(pos), files); }

void TkxFrmMain::DropFilesOn(QWidget* at, const QStringList& files) {
  QLineEdit* edit = nullptr;
  bool list = false;
  for (QWidget* w = at; w && w != this; w = w->parentWidget()) {
    if (w == eSource || w == eTarget) edit = static_cast<QLineEdit*>(w);
    if (w == lViewer) list = true;
  }
  if (!edit && !list) return;
  for (int i = 0; i < files.size(); ++i) {
    std::string file = S(files[i]);
    if (files.size() == 1 && Project && Project->IsProjectFile(file)) {
      Project->FileName = file;
      Project->OpenProject(true);
      UpdateTitle();
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
      if (Busy()) return;  // the running batch keeps its list
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
    QStringList files;
    for (const QUrl& u : d->mimeData()->urls())
      if (u.isLocalFile()) files << u.toLocalFile();
    d->acceptProposedAction();
    if (!files.isEmpty()) DropFilesOn(w, files);
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
  RowChanged(FGeneration, node->Index, false, TkxNode::Running, std::string());
  return RowOfItem(node->Index);
}

TkxResultRow* TkxFrmMain::RowOfItem(int index) const {
  return index >= 0 && size_t(index) < FRows.size() ? FRows[size_t(index)] : nullptr;
}

void TkxFrmMain::RowChanged(uint64_t gen, int index, bool done, int status, const std::string& result) {
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
  row->SetResult(status, result, imgList[image]);
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
    eTarget->setFocus();
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
      std::string result = node->ResultText;
      sink->Post([=](TkxFrmMain* w) { w->RowChanged(gen, index, true, status, result); });
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
  StartPolling();
}

void TkxFrmMain::EnableStartActions(bool on) {
  for (QAction* a : {aConvert, aSearchConvert, aSearch, BrowseFiles1}) a->setEnabled(on);
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
    QTimer::singleShot(0, this, [this] { close(); });
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
  QString cycle;
  if (FCycle.isActive())
    cycle = QString("Next run in %1 s").arg((FCycle.remainingTime() + 999) / 1000);
  else if (Project && Project->Daemon() > 0 && FStopped)
    cycle = "Loop stopped";
  else if (Project && Project->Daemon() > 0 && FInRun)
    cycle = "Unattended run";
  sbStatus->ShowCycle(cycle);
  if (!Busy() && !FCycle.isActive()) FPoll.stop();
}

void TkxFrmMain::ShowSearchProblems() {
  std::vector<TkxSearchProblem> problems = FBatch->SearchProblems();
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
    lines.Add("[" + std::string(StatusWord(row->Status())) + "] => " + row->ShownName() + " => " + row->ResultText());
  lines.SaveToFile(path);
}

// ---- project commands and links

void TkxFrmMain::aOpenExecute() {
  try {
    Project->OpenProject(false);
  } catch (const std::exception& e) {
    // Said where the user looks; the error report follows as for every failed command.
    sbStatus->ShowProblem(Q("The project was not opened: " + std::string(e.what())));
    throw;
  }
  UpdateTitle();
}

void TkxFrmMain::pm2Popup() {
  pm2->clear();
  for (int i = 0; i < Project->RecentFiles.Count(); ++i) {
    const std::string& file = Project->RecentFiles[i];
    // "&&" shows one ampersand: the caption is the path exactly.
    QAction* item = pm2->addAction(Q(ReplaceAll(file, "&", "&&")));
    item->setData(Q(file));
    item->setEnabled(FileExists(file));
  }
}

void TkxFrmMain::OnRecentClick(QAction* item) {
  if (!item) return;
  Project->FileName = S(item->data().toString());
  Project->OpenProject(true);
  UpdateTitle();
}

void TkxFrmMain::aNewExecute() {
  Project->NewProject();
  UpdateTitle();
}

void TkxFrmMain::aConfigExecute() {
  if (!FCfg) FCfg = std::make_unique<TkxFrmCfg>(this);
  FCfg->exec();
  UpdateTitle();
}

void TkxFrmMain::aSaveExecute() {
  Project->SaveProject();
  UpdateTitle();
}

void TkxFrmMain::aSaveAsExecute() {
  Project->SaveProjectAs();
  UpdateTitle();
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
