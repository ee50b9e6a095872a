// The GUI-thread dispatcher under a busy worker: every call runs once, on the
// GUI thread, and its waiter returns only after it; shutdown releases waiters.
#include <atomic>
#include <stdexcept>
#include <thread>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QThread>

#include "platform/thread.h"
#include "platform/uidispatch.h"
#include "ui/uitest.h"

namespace {
// Spins the GUI thread's loop until `done` or the time is up.
bool PumpUntil(const std::atomic<bool>& done, int ms = 60000) {
  QElapsedTimer t;
  t.start();
  while (!done && t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  return done;
}
}  // namespace

class UiDispatcherTest : public QObject {
  Q_OBJECT
 private slots:
  void manyCallsRunOnceEachOnTheGuiThread() {
    kx::TkxUiDispatcher d;
    d.Install();
    QThread* gui = QThread::currentThread();
    const int calls = 20000;
    std::atomic<int> ran{0}, offThread{0}, returnedEarly{0};
    std::atomic<bool> done{false};
    std::thread worker([&] {
      for (int i = 0; i < calls; ++i) {
        bool finished = false;
        kx::TThread::Synchronize([&] {
          if (QThread::currentThread() != gui) ++offThread;
          ++ran;
          finished = true;
        });
        if (!finished) ++returnedEarly;
      }
      done = true;
    });
    bool ok = PumpUntil(done);
    worker.join();
    QVERIFY(ok);
    QCOMPARE(offThread.load(), 0);
    QCOMPARE(ran.load(), calls);
    QCOMPARE(returnedEarly.load(), 0);
  }

  void errorsReachTheWaiterAndGuiThreadCallsRunDirectly() {
    kx::TkxUiDispatcher d;
    d.Install();
    std::atomic<bool> done{false};
    std::string caught;
    std::thread worker([&] {
      try {
        kx::TThread::Synchronize([] { throw std::runtime_error("from the GUI thread"); });
      } catch (const std::exception& e) {
        caught = e.what();
      }
      done = true;
    });
    bool ok = PumpUntil(done);
    worker.join();
    QVERIFY(ok);
    QCOMPARE(caught, std::string("from the GUI thread"));
    int direct = 0;
    d.Run([&] { ++direct; });  // no loop turn needed
    QCOMPARE(direct, 1);
  }

  void shutdownReleasesAWaiterAndDropsItsCall() {
    kx::TkxUiDispatcher d;
    d.Install();
    std::atomic<bool> entered{false}, returned{false}, ran{false};
    std::thread worker([&] {
      entered = true;
      kx::TThread::Synchronize([&] { ran = true; });
      returned = true;
    });
    while (!entered) std::this_thread::yield();
    QThread::msleep(50);  // the call is posted; the loop does not turn
    QVERIFY(!returned);
    d.Shutdown();
    worker.join();
    QVERIFY(returned);
    QCoreApplication::processEvents();
    QVERIFY(!ran);
  }
};

UI_TEST_CLASS(UiDispatcherTest);
#include "uidispatch_test.moc"
