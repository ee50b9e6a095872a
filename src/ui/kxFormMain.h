#pragma once
// The main window: source and target, the result list, the toolbar with the
// project commands and links, and the run control.
#include <memory>
#include <string>
#include <vector>

#include <QAction>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>

#include "engine/batch.h"
#include "engine/convertor.h"
#include "engine/disposer.h"
#include "platform/uidispatch.h"
#include "ui/kxFormBase.h"
#include "ui/resultrow.h"
#include "ui/runstatus.h"

namespace kx {

class TkxFrmCfg;
class TkxFrmPreview;
class TkxRowSink;

class TkxFrmMain : public TkxFrmBase {
  Q_OBJECT
 public:
  explicit TkxFrmMain(QWidget* parent = nullptr);
  ~TkxFrmMain() override;  // FormDestroy

  virtual void RegisterBoundControls();

  // Main window operations.
  void NewBatch();
  void SetDefaultTarget(const std::string& folder);
  void OpenSelected(bool folderOnly);
  void UpdateTitle();
  // Files dropped at `pos` (window coordinates), their names as bytes.
  void DropFiles(const QPoint& pos, const std::vector<std::string>& files);
  // The same for the control `at` (or a child of it).
  void DropFilesOn(QWidget* at, const std::vector<std::string>& files);

  void bSourceClick();
  void bSourceFileClick();
  void bTargetClick();
  void aSearchExecute();
  void aViewExecute();
  void pmListPopup();
  void aViewSourceExecute() { OpenSelected(true); }
  void aOpenSourceExecute() { OpenSelected(false); }
  void aExportListExecute();

  // Run control.
  void aConvertExecute();
  void aSearchConvertExecute();
  void aPauseExecute();
  void aStopExecute();
  void OnFinish();
  void AfterRun();
  void AutoRunCheck();
  void ExportList(const std::string& path);
  // The row of item i (whatever its place in a sorted list); rows are made and
  // changed on this thread only.
  QTreeWidgetItem* ShowNode(const std::string& fileName, TkxNode* node);
  TkxResultRow* RowOfItem(int index) const;
  int RowCount() const { return int(FRows.size()); }
  // Shows the pages of the row in the preview window (made on first use).
  void PreviewRow(QTreeWidgetItem* row);

  // Project commands and links.
  void aOpenExecute();
  void pmRecentPopup();
  void OnRecentClick(QAction* item);
  void aNewExecute();
  void aConfigExecute();
  void aSaveExecute();
  void aSaveAsExecute();
  void aUpdateExecute();
  void aHelpExecute();
  void aHomePageExecute();
  void aSupportsExecute();
  void aAboutExecute();
  void aQuitExecute() { close(); }

  // The project differs from what was last opened or saved. Without a project file
  // of its own only options beyond the three fields count: the window remembers those.
  bool ProjectModified() const;
  // Before the project is replaced: false when the user keeps it (Cancel, or a save
  // that did not happen). Asks only when the project was modified.
  bool AskToKeepChanges(const QString& before);

  // A search or a run still uses the batch: commands that would replace it wait.
  bool Busy() const;
  TkxBatch* Batch() const { return FBatch.get(); }
  int Running() const { return FRunning; }
  bool Stopped() const { return FStopped; }
  // An unattended loop waits for its next cycle.
  bool Waiting() const { return FCycle.isActive(); }
  int WaitLeft() const { return FCycle.remainingTime(); }
  TkxBatchDisposer& Disposer() { return FDisposer; }
  TkxFrmCfg* ConfigDialog() const { return FCfg.get(); }
  TkxFrmPreview* Preview() const { return FPreview; }
  // Brings the status bar up to date (also every quarter second while a run goes on).
  void UpdateStatus();
  // The opening size for a screen area: the standard size where it fits.
  static QSize OpeningSize(const QSize& available, const QSize& minimum);
  // Says why a command did nothing, in the status bar, and puts the focus on `field`.
  void Refuse(const QString& why, QWidget* field = nullptr);

  // Components.
  QToolBar* ToolBar;
  QToolButton *tbOpen, *tbNew, *tbConfig, *tbSave, *tbSaveAs, *tbUpdate, *tbHelp, *tbHomePage, *tbSupports, *tbAbout;
  QWidget *tbSeparatorUpdate, *tbSeparatorLinks;  // before "Check Update" and before "Help"
  QFrame *pAction, *pViewer;
  QWidget *pSource, *pTarget, *pOthers, *pSpacer;
  QLineEdit *eSource, *eTarget;
  QLabel *lblSource, *lblTarget;
  QPushButton *bSource, *bSourceFile, *bSearch, *bTarget, *bView, *bSearchConvert, *bCreate;
  QCheckBox* cSubdir;
  QTreeWidget* lViewer;
  TkxRunStatus* sbStatus;
  QMenu* pmList;    // the result list's context menu
  QMenu* pmRecent;  // the recent projects, under the arrow of "Open"
  QAction *aBrowseFiles, *aViewSource, *aOpenSource, *aViewOutput, *aExportList;  // items of pmList
  QObject* actList;
  QAction *aConvert, *aStop, *aOpen, *aNew, *aConfig, *aSave, *aSaveAs, *aUpdate, *aHelp, *aHomePage, *aSupports,
      *aAbout, *aSearch, *aView, *aSearchConvert, *aPause, *aQuit;
  QList<QIcon> imgList;

 protected:
  void showEvent(QShowEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  void changeEvent(QEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;

 private:
  friend class TkxRowSink;
  void BuildToolBar();
  void BuildAction();
  void BuildViewer();
  void BuildActions();
  // A notification for item `index` of batch generation `gen`; `done` carries the result.
  void RowChanged(uint64_t gen, int index, bool done, int status, const std::string& result,
                  const std::string& pagePattern);
  void ForgetBatch();
  // Convert, search-and-convert and search: off while a run is on, and with them
  // the commands that would replace the list.
  void EnableStartActions(bool on);
  // The end of a converter thread of run `serial`; older runs' ends are not this run's.
  void ChainEnded(uint64_t serial);
  // The unattended loop's wait for its next cycle; Stop is offered while it lasts.
  void StartWait(int ms);
  void EndWait();
  void StartPolling();
  // Folders of the list's search that could not be read, in the status bar.
  void ShowSearchProblems();
  void SortIndicatorChanged(int column, Qt::SortOrder order);
  void ShowInPreview(TkxResultRow* row);
  // Columns of the two rows of the action panel line up, each as wide as the widest
  // caption its controls can show, whatever the font and scale.
  void AlignActionColumns();
  // The window's place, size and last fields, kept by the desktop's settings store.
  void RestoreWindowState();
  void SaveWindowState();
  // The project with the window's fields put in: what a save would write.
  std::string ShownSettings() const;
  // What was last opened or saved: the project is unmodified while ShownSettings equals it.
  void MarkUnmodified();
  // Runs a command that may replace the project, then takes the new project as unmodified.
  template <class F>
  void ReplaceProject(F&& command);
  // Runs a save command; a project saved is unmodified from then on.
  template <class F>
  void SaveWith(F&& save);
  bool ProjectHasFile() const;
  // Whether the window may close: asks during a run and about unsaved changes.
  bool MayClose();
  void ProjectCommandEnded();  // the caption and the modified mark

  std::unique_ptr<TkxBatch> FBatch;  // handed to FDisposer when the list is replaced
  uint64_t FGeneration = 0;
  std::vector<TkxResultRow*> FRows;                     // by item index; owned by lViewer
  std::vector<std::shared_ptr<TkxChain>> FBatchChains;  // every chain that ran on FBatch
  std::shared_ptr<TkxChain> FChain;                     // the current run's
  int32_t FRunning = 0;
  uint64_t FRunSerial = 0;
  bool FInRun = false;
  bool FStopped = false;
  bool FPaused = false;           // Pause ended the last run before its list was done
  bool FUnattendedClose = false;  // the unattended mode closes: nothing to ask
  bool FNoMatchSaid = false;      // of FBatch's empty search, in the status bar
  bool FShownOnce = false;
  bool FBuilt = false;              // every control is made: a change of font or style may lay them out
  std::string FUnmodified;          // ShownSettings() when the project was last opened or saved
  std::string FSearched;            // the source FBatch's search was given; empty for a list made by hand
  std::unique_ptr<TkxFrmCfg> FCfg;  // made on first use
  TkxFrmPreview* FPreview = nullptr;
  QTimer FCycle;  // the one pending cycle of the unattended loop
  QTimer FPoll;   // the status bar's clock
  QElapsedTimer FRunClock;
  int FPagesAtStart = 0;
  size_t FSearchProblemsShown = 0;  // of FBatch's, as the status bar says
  std::shared_ptr<TkxRowSink> FSink;
  TkxUiDispatcher FDispatcher;
  TkxBatchDisposer FDisposer;
};

// Shows `action` on `button`: caption, hint, enabled and visible state, and its trigger.
void LinkButton(QPushButton* button, QAction* action);
QAction* LinkedAction(QPushButton* button);

}  // namespace kx
