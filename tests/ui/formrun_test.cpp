// Runs from the window on real documents through LibreOffice: rows, run states,
// pause, stop, the end of a run, the unattended modes and the list export.
#include <algorithm>
#include <sstream>

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "core/project.h"
#include "platform/files.h"
#include "ui/kxFormPreview.h"
#include "uitest.h"

using kx::Project;
using kx::TkxFrmMain;
using namespace uitest;

namespace {

const std::string Corpus = LUMI_CORPUS_DIR "/";

// Copies corpus documents into `dir` (the corpus itself is never written to).
void CopyDocs(const std::string& dir, std::initializer_list<const char*> names) {
  for (const char* n : names) kxtest::WriteFile(dir + n, kxtest::ReadFile(Corpus + n));
}

void Damaged(const std::string& path) { kxtest::WriteFile(path, "this is not a document at all"); }

std::string Text(QLineEdit* e) { return e->text().toStdString(); }

// Records how many converter threads were still due each time the window went idle.
struct IdleWatch {
  std::vector<int> RunningWhenIdle;
  explicit IdleWatch(TkxFrmMain& w) {
    QObject::connect(w.aConvert, &QAction::changed, &w, [this, &w] {
      if (w.aConvert->isEnabled() && !Was) RunningWhenIdle.push_back(w.Running());
      Was = w.aConvert->isEnabled();
    });
  }
  bool Was = true;
};

// The page count of a corpus document, from the corpus's own table.
int CorpusPages(const std::string& name) {
  std::istringstream table(kxtest::ReadFile(Corpus + "pages.tsv"));
  for (std::string line; std::getline(table, line);)
    if (line.rfind(name + "\t", 0) == 0) return std::atoi(line.c_str() + name.size() + 1);
  return -1;
}

// How many pixels of a thumbnail are dark enough to be print.
int Ink(const QImage& img) {
  int n = 0;
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x) n += qGray(img.pixel(x, y)) < 128 && qAlpha(img.pixel(x, y)) > 0;
  return n;
}

// The mean difference of grey levels of two pictures of one size.
double MeanDifference(const QImage& a, const QImage& b) {
  if (a.size() != b.size()) return 255;
  double sum = 0;
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x) sum += std::abs(qGray(a.pixel(x, y)) - qGray(b.pixel(x, y)));
  return sum / (a.width() * a.height());
}

int Counter(const char* key) { return std::atoi(static_cast<kx::TkxInfo*>(kx::Info)->StoredValue(key).c_str()); }

}  // namespace

class FormRunTest : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase() {
    if (!kx::FileExists(Corpus + "pages.tsv")) QSKIP(LUMI_NO_CORPUS ", which is not at " LUMI_CORPUS_DIR);
  }
  void rowsTurnFromPendingToTheirResults() {
    Scope s(true);
    std::string in = s.Dir() / "in/";
    CopyDocs(in, {"test01.docx", "test02.docx", "test03.doc"});
    Damaged(in + "broken.doc");
    TkxFrmMain& w = s.Open();
    w.eSource->setText(QString::fromStdString(in + "*.doc?"));
    w.eTarget->setText(QString::fromStdString(s.Dir() / "out"));
    Project->SetOption("ThreadsCount", "2");
    IdleWatch idle(w);
    w.bSearch->click();
    QVERIFY(WaitIdle(w));
    for (const std::string& r : Rows(w)) QCOMPARE(r.substr(0, 2), std::string("0|"));
    w.bCreate->click();
    // Running: the buttons show Pause and Stop.
    QCOMPARE(kx::LinkedAction(w.bCreate), w.aPause);
    QCOMPARE(w.bCreate->text(), QString("Pause"));
    QCOMPARE(kx::LinkedAction(w.bSearchConvert), w.aStop);
    QVERIFY(w.bSearchConvert->isVisibleTo(&w));
    QVERIFY(!w.aSearch->isEnabled());
    QVERIFY(WaitIdle(w));
    QCOMPARE(Text(w.eTarget), s.Dir() / "out/");
    std::vector<std::string> rows = Rows(w);
    QCOMPARE(rows.size(), size_t(4));
    int ok = 0, failed = 0;
    for (const std::string& r : rows) {
      if (r.find("broken.doc") != std::string::npos) {
        QCOMPARE(r, "2|" + in + "broken.doc|The file is damaged or is not a supported document");
        ++failed;
      } else {
        QCOMPARE(r[0], '1');
        QVERIFY2(r.find("|" + s.Dir() / "out/") != std::string::npos && r.find("-*.png") != std::string::npos,
                 r.c_str());
        ++ok;
      }
    }
    QCOMPARE(ok, 3);
    QVERIFY(kx::FileExists(s.Dir() / "out/test01-01.png"));
    // Idle again exactly once, when the last thread ended.
    QCOMPARE(idle.RunningWhenIdle, std::vector<int>{0});
    QCOMPARE(kx::LinkedAction(w.bCreate), w.aConvert);
    QVERIFY(!w.bSearchConvert->isVisibleTo(&w));
    QVERIFY(w.aSearch->isEnabled());
    // Counters and one error report.
    QCOMPARE(Counter("A"), 4);
    QCOMPARE(Counter("S"), 3);
    QCOMPARE(Counter("F"), 1);
    QCOMPARE(Counter("C"), 1);
    QVERIFY(WaitOpened(1));
    // The report's quotes are taken out again when the link is built.
    QVERIFY(Opened()[0].find("a=err&e=The file is damaged or is not a supported document&p=lumipix") !=
            std::string::npos);
    // The list export.
    s.Choosers.Saves.push_back(s.Dir() / "list.log");
    w.aExportListExecute();
    QCOMPARE(s.Choosers.Calls.back(), std::string("save|Log File|*.log||.log"));
    std::string log = kxtest::ReadFile(s.Dir() / "list.log");
    std::string expected;
    for (const std::string& r : rows) {
      size_t bar = r.find('|', 2);
      expected += std::string(r[0] == '1' ? "[Success]" : "[Failure]") + " => " + r.substr(2, bar - 2) + " => " +
                  r.substr(bar + 1) + "\r\n";
    }
    QCOMPARE(log, expected);
  }

  void threadCountsAndTheLastEndNotification() {
    for (int threads : {1, 4}) {
      Scope s(true);
      std::string in = s.Dir() / "in/";
      CopyDocs(in, {"test01.docx", "test04.docx"});
      TkxFrmMain& w = s.Open();
      w.eSource->setText(QString::fromStdString(in + "*.docx"));
      w.eTarget->setText(QString::fromStdString(s.Dir() / "out/"));
      Project->SetOption("ThreadsCount", std::to_string(threads));
      IdleWatch idle(w);
      w.aConvertExecute();  // no list yet: it searches first
      QCOMPARE(w.Running(), threads);
      QVERIFY(WaitIdle(w));
      QCOMPARE(idle.RunningWhenIdle, std::vector<int>{0});
      for (const std::string& r : Rows(w)) QCOMPARE(r[0], '1');
    }
  }

  void pauseKeepsTheListAndGoesOn() {
    Scope s(true);
    std::string in = s.Dir() / "in/";
    CopyDocs(in, {"test01.docx", "test02.docx", "test03.docx", "test04.docx", "test06.docx", "test08.docx"});
    TkxFrmMain& w = s.Open();
    w.eSource->setText(QString::fromStdString(in + "*.docx"));
    w.eTarget->setText(QString::fromStdString(s.Dir() / "out/"));
    Project->SetOption("ThreadsCount", "1");
    // Pause as soon as the first row is done.
    QObject::connect(w.lViewer->model(), &QAbstractItemModel::dataChanged, &w, [&w] {
      if (w.aPause->isEnabled() && w.lViewer->topLevelItem(0)->data(0, Qt::UserRole).toInt() == 1) w.aPauseExecute();
    });
    w.aConvertExecute();
    QVERIFY(WaitIdle(w));
    kx::TkxBatch* batch = w.Batch();
    QTreeWidgetItem* first = w.lViewer->topLevelItem(0);
    std::vector<std::string> rows = Rows(w);
    QCOMPARE(rows.size(), size_t(6));
    int pending = 0;
    for (const std::string& r : rows) pending += r[0] == '0';
    QVERIFY2(pending >= 3, std::to_string(pending).c_str());
    QCOMPARE(w.aStop->data().toInt(), 0);
    QVERIFY(batch);
    w.lViewer->model()->disconnect(&w);
    w.aConvertExecute();  // the same list goes on
    QVERIFY(WaitIdle(w));
    QCOMPARE(w.Batch(), batch);
    QCOMPARE(w.lViewer->topLevelItem(0), first);
    for (const std::string& r : Rows(w)) QCOMPARE(r[0], '1');
    // After a completed run Convert searches afresh and sees a new document.
    CopyDocs(in, {"test09.docx"});
    w.aConvertExecute();
    QVERIFY(WaitIdle(w));
    rows = Rows(w);
    QCOMPARE(rows.size(), size_t(7));
    QVERIFY(std::any_of(rows.begin(), rows.end(), [&](const std::string& r) {
      return r == "1|" + in + "test09.docx|" + s.Dir() / "out/test09-*.png";
    }));
  }

  void stopForgetsTheBatch() {
    Scope s(true);
    std::string in = s.Dir() / "in/";
    CopyDocs(in, {"test01.docx", "test02.docx", "test03.docx", "test04.docx"});
    TkxFrmMain& w = s.Open();
    w.eSource->setText(QString::fromStdString(in + "*.docx"));
    w.eTarget->setText(QString::fromStdString(s.Dir() / "out/"));
    w.aConvertExecute();
    w.bSearchConvert->click();  // shows Stop while running
    QVERIFY(w.Stopped());
    QVERIFY(!w.aStop->isEnabled());
    QVERIFY(!w.aPause->isEnabled());
    QVERIFY(WaitIdle(w));
    QVERIFY(w.Batch() == nullptr);
    QCOMPARE(w.aStop->data().toInt(), 0);
    QVERIFY(Rows(w).size() >= 1);
    w.aConvertExecute();  // a fresh search
    QVERIFY(w.Batch() != nullptr);
    QVERIFY(WaitIdle(w));
    QCOMPARE(Rows(w).size(), size_t(4));
    for (const std::string& r : Rows(w)) QCOMPARE(r[0], '1');
  }

  void skippedFileShowsATickAndNoResult() {
    Scope s(true);
    std::string in = s.Dir() / "in/";
    CopyDocs(in, {"test01.docx"});
    kxtest::WriteFile(s.Dir() / "out/test01-01.png", "kept");
    TkxFrmMain& w = s.Open();
    w.eSource->setText(QString::fromStdString(in + "*.docx"));
    w.eTarget->setText(QString::fromStdString(s.Dir() / "out/"));
    Project->SetOption("IsOverwrite", "skip");
    w.aConvertExecute();
    QVERIFY(WaitIdle(w));
    QCOMPARE(Rows(w), std::vector<std::string>{"1|" + in + "test01.docx|"});
    QCOMPARE(kxtest::ReadFile(s.Dir() / "out/test01-01.png"), std::string("kept"));
    w.ExportList(s.Dir() / "list.log");
    QCOMPARE(kxtest::ReadFile(s.Dir() / "list.log"), "[Success] => " + in + "test01.docx => \r\n");
    QCOMPARE(OpenedWhenSettled().size(), size_t(0));  // no failures, no report
  }

  void twoFailuresWithOneMessageMakeOneReport() {
    Scope s(true);
    std::string in = s.Dir() / "in/";
    Damaged(in + "x.doc");
    Damaged(in + "y.doc");
    TkxFrmMain& w = s.Open();
    w.eSource->setText(QString::fromStdString(in + "*.doc"));
    w.eTarget->setText(QString::fromStdString(s.Dir() / "out/"));
    Project->SetOption("ThreadsCount", "2");
    w.aConvertExecute();
    QVERIFY(WaitIdle(w));
    for (const std::string& r : Rows(w)) QCOMPARE(r[0], '2');
    std::vector<std::string> opened = OpenedWhenSettled();
    QCOMPARE(opened.size(), size_t(1));
    const std::string msg = "The file is damaged or is not a supported document";
    size_t first = opened[0].find(msg);
    QVERIFY(first != std::string::npos);
    QCOMPARE(opened[0].find(msg, first + 1), std::string::npos);
  }

  void statusBarFollowsARealRun() {
    Scope s(true);
    std::string in = s.Dir() / "in/";
    // Long enough for the rate, which shows after a second: one thread, a document of 16
    // pages, at 300 dpi (some 4 s here; at 96 dpi the run ends in little more than one).
    CopyDocs(in, {"test04.docx", "test07.doc", "bigfile-01.doc"});
    Damaged(in + "broken.doc");
    int pages = CorpusPages("test04.docx") + CorpusPages("test07.doc") + CorpusPages("bigfile-01.doc");
    QVERIFY(pages >= 3);
    TkxFrmMain& w = s.Open();
    w.show();
    w.eSource->setText(QString::fromStdString(in + "*.doc?"));
    w.eTarget->setText(QString::fromStdString(s.Dir() / "out/"));
    Project->SetOption("ThreadsCount", "1");
    Project->SetOption("Dpi", "300");
    // What the status bar said while the run went on.
    QStringList seen;
    std::vector<int> progress;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
      if (!w.Busy()) return;
      seen << w.sbStatus->lblCounts->text();
      if (w.sbStatus->pbRun->isVisible()) progress.push_back(w.sbStatus->pbRun->value());
    });
    sampler.start(100);
    w.aConvertExecute();
    QVERIFY(WaitIdle(w));
    sampler.stop();
    QCOMPARE(w.sbStatus->lblCounts->text(), QString("4 found, 4 done: 3 converted, 1 failed; %1 pages").arg(pages));
    QVERIFY(!w.sbStatus->pbRun->isVisible());
    QVERIFY(!seen.isEmpty() && !progress.empty());
    QVERIFY(std::is_sorted(progress.begin(), progress.end()));
    QCOMPARE(w.sbStatus->pbRun->maximum(), 4);
    QVERIFY2(std::any_of(seen.begin(), seen.end(), [](const QString& t) { return t.endsWith(" pages/s"); }),
             qPrintable(seen.join(" | ")));
    QVERIFY(std::any_of(seen.begin(), seen.end(), [](const QString& t) { return t.startsWith("4 found, 0 done"); }));
  }

  void previewOfAConvertedDocumentInBothEditions() {
    std::vector<QImage> thumbs;
    for (int edition : {kx::kPngEdition, kx::kEmfEdition}) {
      Scope s(true, edition);
      const std::string ext = edition == kx::kPngEdition ? ".png" : ".emf";
      std::string in = s.Dir() / "in/";
      CopyDocs(in, {"test07.docx"});
      TkxFrmMain& w = s.Open();
      w.show();
      QVERIFY(QTest::qWaitForWindowExposed(&w));
      w.eSource->setText(QString::fromStdString(in + "*.docx"));
      w.eTarget->setText(QString::fromStdString(s.Dir() / "out/"));
      w.aConvertExecute();
      QVERIFY(WaitIdle(w));
      QCOMPARE(Rows(w), std::vector<std::string>{"1|" + in + "test07.docx|" + s.Dir() / "out/test07-*" + ext});
      QTreeWidgetItem* row = w.lViewer->topLevelItem(0);
      DoubleClick(w.lViewer->viewport(), w.lViewer->visualItemRect(row).center());
      kx::TkxFrmPreview* preview = w.Preview();
      QVERIFY(preview && preview->isVisible());
      QTRY_VERIFY_WITH_TIMEOUT(preview->Complete(), 30000);
      QCOMPARE(int(preview->Pages().size()), CorpusPages("test07.docx"));
      for (int i = 0; i < preview->lPages->count(); ++i) {
        QCOMPARE(preview->Pages()[size_t(i)], s.Dir() / "out/test07-0" + std::to_string(i + 1) + ext);
        // A page with print on it, not a blank frame or an error note; the metafile
        // edition's page as the image edition's.
        QImage thumb = preview->lPages->item(i)->icon().pixmap(QSize(150, 200)).toImage();
        QVERIFY(Ink(thumb) > 0);
        if (edition == kx::kPngEdition)
          thumbs.push_back(thumb);
        else
          QVERIFY2(MeanDifference(thumb, thumbs[size_t(i)]) < 6,
                   qPrintable(QString::number(MeanDifference(thumb, thumbs[size_t(i)]))));
      }
      preview->lPages->setCurrentRow(1);
      QTest::keyClick(preview->lPages, Qt::Key_Return);
      QVERIFY(WaitOpened(1));
      QCOMPARE(Opened(), std::vector<std::string>{s.Dir() / "out/test07-02" + ext});
    }
  }

  void runAndCloseExportsAndCloses() {
    Scope s(true);
    std::string in = s.Dir() / "in/";
    CopyDocs(in, {"test02.docx"});
    Project->ParseCommandLine("-P:RunAndClose=1,Source=" + in + "*.docx,Target=" + s.Dir() / "out/" +
                              ",LogFile=" + s.Dir() / "run.log");
    TkxFrmMain& w = s.Open();
    w.show();
    QTRY_VERIFY_WITH_TIMEOUT(!w.isVisible(), 120000);
    QVERIFY(WaitIdle(w));
    QCOMPARE(kxtest::ReadFile(s.Dir() / "run.log"),
             "[Success] => " + in + "test02.docx => " + s.Dir() / "out/" + "test02-*.png\r\n");
  }
};

// Control flow that needs no word processor: the recording test converter.
class FormRunControlTest : public QObject {
  Q_OBJECT
 private slots:
  void targetCleaning() {
    Scope s;
    std::string out = s.Dir() / "out";
    kxtest::WriteFile(s.Dir() / "in/a.doc", "x");
    kxtest::WriteFile(s.Dir() / "file.txt", "x");
    TkxFrmMain& w = s.Open();
    w.eSource->setText(QString::fromStdString(s.Dir() / "in/*.doc"));
    const std::pair<std::string, std::string> cases[] = {
        {out + "/*.png", out + "/"},
        {out + "/sub?/x*", out + "/"},
        {out + "/new", out + "/new/"},
        {s.Dir() / "file.txt", s.Dir().Path()},
        {s.Dir() / "file.txt/", s.Dir().Path()},
    };
    for (const auto& [typed, cleaned] : cases) {
      w.eTarget->setText(QString::fromStdString(typed));
      w.aConvertExecute();
      QCOMPARE(Text(w.eTarget), cleaned);
      QVERIFY(WaitIdle(w));
    }
    QVERIFY(kx::DirectoryExists(out + "/new/"));
    QCOMPARE(Project->Target(), s.Dir().Path());  // the fields went into the settings
    // Nothing usable left: like an empty field, nothing starts.
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    for (const char* typed : {"*", "?x", ""}) {
      w.eTarget->setText(typed);
      int runs = Counter("C");
      w.aConvertExecute();
      QCOMPARE(Counter("C"), runs);
      QVERIFY(w.eTarget->hasFocus());
      QVERIFY(!w.Busy());
    }
  }

  void emptyFieldsStartNothing() {
    Scope s;
    TkxFrmMain& w = s.Open();
    w.eTarget->setText(QString::fromStdString(s.Dir() / "out/"));
    w.aConvertExecute();  // no source: no batch, no run
    QVERIFY(w.Batch() == nullptr);
    QCOMPARE(Counter("C"), 0);
    QVERIFY(w.aConvert->isEnabled());
  }

  void threadsCountZeroStillRunsOneThread() {
    Scope s;
    for (const char* f : {"a.doc", "b.doc"}) kxtest::WriteFile(s.Dir() / "in/" + f, "x");
    TkxFrmMain& w = s.Open();
    w.eSource->setText(QString::fromStdString(s.Dir() / "in/*.doc"));
    w.eTarget->setText(QString::fromStdString(s.Dir() / "out/"));
    Project->SetOption("ThreadsCount", "0");
    IdleWatch idle(w);
    w.aConvertExecute();
    QCOMPARE(w.Running(), 0);
    QVERIFY(WaitIdle(w));
    QCOMPARE(idle.RunningWhenIdle, std::vector<int>{-1});
    QCOMPARE(kxtest::TestLog().Constructed.load(), 1);
    QCOMPARE(Rows(w).size(), size_t(2));
  }

  void daemonRepeatsUntilStopped() {
    Scope s;
    std::string in = s.Dir() / "in/";
    kxtest::WriteFile(in + "a.doc", "x");
    Project->ParseCommandLine("-P:Daemon=200,Source=" + in + "*.doc,Target=" + s.Dir() / "out/" + ",IsOverwrite=True");
    TkxFrmMain& w = s.Open();
    w.show();
    QTRY_VERIFY_WITH_TIMEOUT(Counter("C") >= 2, 10000);
    QTRY_COMPARE(Rows(w).size(), size_t(1));  // the fresh search's row may still be on its way
    kxtest::WriteFile(in + "b.doc", "x");     // picked up by a later cycle
    int runs = Counter("C");
    QTRY_VERIFY_WITH_TIMEOUT(Counter("C") >= runs + 2, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(Rows(w).size(), size_t(2), 10000);
    QVERIFY(w.isVisible());
    // Stop ends the loop; the window stays. Slower documents keep a run going long enough
    // to be caught running on a loaded machine.
    kxtest::TestLog().DelayMs = 300;
    QTRY_VERIFY_WITH_TIMEOUT(w.Busy(), 10000);
    w.aStopExecute();
    QVERIFY(WaitIdle(w));
    // No cycle is waiting: the loop has ended.
    QVERIFY(!w.Waiting());
    QVERIFY(w.Stopped());
    QVERIFY(w.isVisible());
  }

  void daemonConvertClicksNeverStartASecondRun() {
    Scope s;
    kxtest::TestLog().DelayMs = 60;
    std::string in = s.Dir() / "in/";
    for (const char* f : {"a.doc", "b.doc"}) kxtest::WriteFile(in + f, "x");
    Project->ParseCommandLine("-P:Daemon=300,Source=" + in + "*.doc,Target=" + s.Dir() / "out/" + ",IsOverwrite=True");
    TkxFrmMain& w = s.Open();
    // Every start and end of a run, and the most converter threads alive at once.
    std::vector<char> events;
    QObject::connect(w.aConvert, &QAction::changed, &w, [&] {
      char e = w.aConvert->isEnabled() ? 'E' : 'S';
      if (events.empty() || events.back() != e) events.push_back(e);
    });
    int mostAlive = 0;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
      mostAlive = std::max(mostAlive, kxtest::TestLog().Constructed.load() - kxtest::TestLog().Destroyed.load());
    });
    sampler.start(2);
    w.show();
    // Convert during each wait, and the start command again during each run.
    int clicks = 0;
    QDeadlineTimer until(3000);
    while (!until.hasExpired()) {
      if (w.Waiting() && kx::LinkedAction(w.bCreate) == w.aConvert) {
        QVERIFY(w.bCreate->isEnabled());
        w.bCreate->click();
        ++clicks;
        QVERIFY(!w.Waiting());
      }
      if (w.Busy()) {
        w.aConvertExecute();  // what a cycle's timer would do
        w.AutoRunCheck();
      }
      QTest::qWait(15);
    }
    QVERIFY(clicks >= 3);
    QTRY_VERIFY_WITH_TIMEOUT(w.Waiting(), 5000);
    w.aStopExecute();
    QVERIFY(WaitIdle(w));
    sampler.stop();
    QCOMPARE(mostAlive, 1);
    // Runs one after the other: each start is followed by its own end before the next.
    QVERIFY(events.size() >= 6);
    for (size_t i = 0; i < events.size(); ++i) QCOMPARE(events[i], i % 2 ? 'E' : 'S');
    QCOMPARE(Counter("C"), int(events.size() / 2));
    QCOMPARE(kxtest::TestLog().Constructed.load(), Counter("C"));
    // And the loop has really ended: no cycle is waiting to come.
    QVERIFY(!w.Waiting());
  }

  void stopIsWithinReachDuringTheWaitAndEndsTheLoop() {
    Scope s;
    std::string in = s.Dir() / "in/";
    kxtest::WriteFile(in + "a.doc", "x");
    Project->ParseCommandLine("-P:Daemon=1500,Source=" + in + "*.doc,Target=" + s.Dir() / "out/" + ",IsOverwrite=True");
    TkxFrmMain& w = s.Open();
    w.show();
    QTRY_VERIFY_WITH_TIMEOUT(w.Waiting(), 5000);
    QCOMPARE(Counter("C"), 1);
    // Stop shows beside Convert while the loop waits, and the status bar counts down.
    QCOMPARE(kx::LinkedAction(w.bSearchConvert), w.aStop);
    QVERIFY(w.bSearchConvert->isVisible() && w.bSearchConvert->isEnabled());
    QCOMPARE(w.bSearchConvert->text(), QString("Sto&p"));
    QVERIFY(QRegularExpression("^Next run in [12] s$").match(w.sbStatus->lblCycle->text()).hasMatch());
    QTRY_COMPARE_WITH_TIMEOUT(w.sbStatus->lblCycle->text(), QString("Next run in 1 s"), 2000);
    QVERIFY(w.sbStatus->lblCounts->text().startsWith("1 found, 1 done: 1 converted"));
    w.bSearchConvert->click();
    QVERIFY(w.Stopped());
    QVERIFY(!w.Waiting());
    QCOMPARE(w.sbStatus->lblCycle->text(), QString("Loop stopped"));
    QVERIFY(!w.bSearchConvert->isVisible());  // back to the hidden "Start"
    QVERIFY(w.Batch() != nullptr);            // the list stays
    QCOMPARE(Counter("C"), 1);
    QVERIFY(w.isVisible());
    // Convert starts the loop again.
    w.bCreate->click();
    QTRY_VERIFY_WITH_TIMEOUT(w.Waiting(), 5000);
    QCOMPARE(Counter("C"), 2);
    w.aStopExecute();
  }

  void stopAfterPauseEndsTheLoop() {
    Scope s;
    kxtest::TestLog().DelayMs = 300;
    std::string in = s.Dir() / "in/";
    for (const char* f : {"a.doc", "b.doc", "c.doc"}) kxtest::WriteFile(in + f, "x");
    Project->ParseCommandLine("-P:Daemon=200,Source=" + in + "*.doc,Target=" + s.Dir() / "out/" + ",IsOverwrite=True");
    TkxFrmMain& w = s.Open();
    w.show();
    QTRY_VERIFY_WITH_TIMEOUT(w.Busy(), 5000);
    w.bCreate->click();  // Pause: this cycle ends early, the loop goes on
    QVERIFY(!w.aPause->isEnabled());
    QVERIFY(w.aStop->isEnabled() && w.bSearchConvert->isEnabled());
    w.bSearchConvert->click();  // Stop: the loop ends
    QVERIFY(WaitIdle(w));
    QVERIFY(!w.Waiting());
    QCOMPARE(Counter("C"), 1);
  }

  void daemonWithoutSourceKeepsWaitingWithoutNesting() {
    Scope s;
    Project->ParseCommandLine("-P:Daemon=30,Target=" + s.Dir() / "out/");
    TkxFrmMain& w = s.Open();
    // Each cycle waits with Stop offered and then takes it back.
    QSignalSpy cycles(w.aStop, &QAction::changed);
    w.show();
    // Many cycles; each one is a fresh timer, not a deeper call.
    QTRY_VERIFY_WITH_TIMEOUT(cycles.count() >= 20, 10000);
    QVERIFY(w.isVisible());
    QVERIFY(w.Batch() == nullptr);
    w.aStopExecute();
    w.close();
  }

  void unwritableLogFileIsReportedAndTheWindowStillCloses() {
    Scope s;
    kxtest::WriteFile(s.Dir() / "in/a.doc", "x");
    kxtest::WriteFile(s.Dir() / "blocker", "a file where a folder should be");
    Project->ParseCommandLine("-P:RunAndClose=1,Source=" + s.Dir() / "in/*.doc,Target=" + s.Dir() / "out/" +
                              ",LogFile=" + s.Dir() / "blocker/run.log");
    TkxFrmMain& w = s.Open();
    w.show();
    QTRY_VERIFY_WITH_TIMEOUT(!w.isVisible(), 10000);
    QCOMPARE(Counter("E"), 1);
    QVERIFY(WaitOpened(1));
    QVERIFY(Opened()[0].find("a=err&e=") != std::string::npos);
  }

  void manyRowsFromManyThreadsStayInItemOrder() {
    Scope s;
    for (int i = 0; i < 300; ++i)
      kxtest::WriteFile(s.Dir() / ("in/d" + std::to_string(i) + (i % 7 ? ".doc" : "-fail.doc")), "x");
    TkxFrmMain& w = s.Open();
    w.eSource->setText(QString::fromStdString(s.Dir() / "in/*.doc"));
    w.eTarget->setText(QString::fromStdString(s.Dir() / "out/"));
    Project->SetOption("ThreadsCount", "4");
    w.aSearchConvertExecute();  // converting while the search still adds rows
    QVERIFY(WaitIdle(w));
    std::vector<std::string> rows = Rows(w);
    QCOMPARE(rows.size(), size_t(300));
    kx::TkxBatch::TItems& items = w.Batch()->LockItems();
    for (size_t i = 0; i < rows.size(); ++i) {
      const kx::TkxNode& n = *items[i];
      QCOMPARE(rows[i], std::to_string(n.Status) + "|" + n.FileName + "|" + n.ResultText);
      QVERIFY(n.Status == kx::TkxNode::Success || n.Status == kx::TkxNode::Failure);
    }
    w.Batch()->UnlockItems();
    QCOMPARE(w.Batch()->FailCount(), 43);
  }

  void closingDuringARunEndsItsThreads() {
    Scope s;
    kxtest::TestLog().DelayMs = 200;
    for (const char* f : {"a.doc", "b.doc", "c.doc", "d.doc"}) kxtest::WriteFile(s.Dir() / "in/" + f, "x");
    TkxFrmMain& w = s.Open();
    w.eSource->setText(QString::fromStdString(s.Dir() / "in/*.doc"));
    w.eTarget->setText(QString::fromStdString(s.Dir() / "out/"));
    Project->SetOption("ThreadsCount", "2");
    w.aConvertExecute();
    // Until a converter has a document in hand.
    auto taken = [] {
      std::lock_guard<std::mutex> g(kxtest::TestLog().Lock);
      return !kxtest::TestLog().Files.empty();
    };
    QTRY_VERIFY(taken());
    s.Close();  // waits for the converters without deadlocking on their end notifications
    QCOMPARE(kxtest::TestLog().Destroyed.load(), kxtest::TestLog().Constructed.load());
  }
};

UI_TEST_CLASS(FormRunTest);
UI_TEST_CLASS(FormRunControlTest);
#include "formrun_test.moc"
