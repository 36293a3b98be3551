#include "startup/termination_signals.h"

#include <QtTest>
#include <csignal>
#include <vector>

namespace capmeter {

namespace {

volatile std::sig_atomic_t countedSignals = 0;
void CountSignal(int) {
  countedSignals = countedSignals + 1;
}

// The disposition of `signal` as it stands.
void (*Disposition(int signal))(int) {
  struct sigaction now {};
  sigaction(signal, nullptr, &now);
  return now.sa_handler;
}

}  // namespace

class TerminationSignalsTest : public QObject {
  Q_OBJECT

 private slots:
  // The test may have been started with some of them ignored.
  void init() { cleanup(); }
  void cleanup() {
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) std::signal(signal, SIG_DFL);
  }

  void eachSignalReachesTheHandlerThroughTheEventLoop_data() {
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGINT") << SIGINT;
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGHUP") << SIGHUP;
  }
  void eachSignalReachesTheHandlerThroughTheEventLoop() {
    QFETCH(int, signal);
    std::vector<int> received;
    TerminationSignals termination([&](int number) { received.push_back(number); });

    std::raise(signal);
    QVERIFY(received.empty());  // not inside the signal handler

    QTRY_COMPARE(received, std::vector<int>{signal});
  }

  void signalsThatCameBeforeTheLoopRanAreAllDelivered() {
    std::vector<int> received;
    TerminationSignals termination([&](int number) { received.push_back(number); });
    std::raise(SIGTERM);
    std::raise(SIGINT);
    std::raise(SIGTERM);
    QTRY_COMPARE(received, (std::vector<int>{SIGTERM, SIGINT, SIGTERM}));
  }

  // As under nohup: an ignored signal stays ignored. The earlier handlers
  // come back when the object goes.
  void keepsIgnoredSignalsIgnoredAndRestoresTheEarlierHandling() {
    std::signal(SIGHUP, SIG_IGN);
    std::signal(SIGINT, CountSignal);
    countedSignals = 0;
    {
      std::vector<int> received;
      TerminationSignals termination([&](int number) { received.push_back(number); });
      QVERIFY(Disposition(SIGHUP) == SIG_IGN);
      QVERIFY(Disposition(SIGINT) != CountSignal);
      QVERIFY(Disposition(SIGTERM) != SIG_DFL);
      std::raise(SIGHUP);
      std::raise(SIGINT);
      QTRY_COMPARE(received, std::vector<int>{SIGINT});
      QCOMPARE(countedSignals, 0);
    }
    QVERIFY(Disposition(SIGHUP) == SIG_IGN);
    QVERIFY(Disposition(SIGINT) == CountSignal);
    QVERIFY(Disposition(SIGTERM) == SIG_DFL);
    std::raise(SIGINT);
    QCOMPARE(countedSignals, 1);
  }
};

}  // namespace capmeter

QTEST_GUILESS_MAIN(capmeter::TerminationSignalsTest)
#include "termination_signals_test.moc"
