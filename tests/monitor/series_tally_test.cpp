// The monitor's series model on the simulated chip and virtual time: what the
// views show must agree with the readings over a whole run.

#include "monitor/series_tally.h"

#include <sys/resource.h>

#include <QtTest>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "measurement/reading_log.h"
#include "measurement/reading_text.h"
#include "measurement/series.h"
#include "monitor/series_worker.h"
#include "sim/simulated_chip.h"
#include "sim/virtual_clock.h"
#include "tests/support/forwarding_driver.h"

namespace capmeter {
namespace {

// Passes calls on and presses the Stop switch during one chosen poll.
class StopDuringPoll final : public testing::ForwardingDriver {
 public:
  StopDuringPoll(DriverLibrary& inner, StopSwitch& stop, std::size_t poll)
      : ForwardingDriver(inner), stop_(stop), poll_(poll) {}
  FT_STATUS FT_GetBitMode(FT_HANDLE handle, std::uint8_t* pins) override {
    if (++polls == poll_) stop_.Press();
    return inner_.FT_GetBitMode(handle, pins);
  }

  std::size_t polls = 0;

 private:
  StopSwitch& stop_;
  std::size_t poll_;
};

// The simulated circuit (4.7 uF, 100 kohm: 0.517 s) read every 100 us.
struct Bench {
  Bench() {
    chip.SetCallLatency(std::chrono::microseconds(100));
    chip.FT_Open(0, &handle);
  }
  // Runs a series into the tally, as the window does, and returns its readings.
  std::vector<Reading> Run(SeriesTally& tally, SeriesSetup setup, int perPoint = 1,
                           DriverLibrary* through = nullptr) {
    std::vector<Reading> readings;
    tally.BeginSeries(setup.calibration, perPoint);
    RunSeries(through ? *through : chip, clock, handle, setup, stop.Control(),
              [&](const Reading& reading) {
                readings.push_back(reading);
                tally.Add(reading, std::chrono::duration<double>(clock.Now() - start).count());
                return true;
              });
    return readings;
  }
  static SeriesSetup Setup(int count, double slope = 9.0909) {
    SeriesSetup setup;
    setup.count = count;
    setup.dither = true;
    setup.seed = 7;
    setup.calibration.slope = slope;
    return setup;
  }

  VirtualClock clock;
  SimulatedChip chip{clock};
  FT_HANDLE handle = nullptr;
  StopSwitch stop;
  Clock::Duration start = clock.Now();
};

std::vector<double> Values(const std::vector<Reading>& readings) {
  std::vector<double> values;
  for (const Reading& r : readings) {
    if (r.microfarads) values.push_back(*r.microfarads);
  }
  return values;
}

Reading Made(int index, double microfarads) {
  Reading reading;
  reading.index = index;
  reading.outcome = MeasureOutcome::ChargeTime;
  reading.seconds = 1.0F;
  reading.microfarads = microfarads;
  return reading;
}

}  // namespace

class SeriesTallyTest : public QObject {
  Q_OBJECT

 private slots:
  void statisticsAndHistogramAgreeWithTheWholeRun() {
    Bench bench;
    SeriesTally tally(64);
    const std::vector<Reading> readings = bench.Run(tally, Bench::Setup(300));
    const Statistics batch = *Summarize(readings, true).microfarads;
    const TallyPicture& shown = tally.Shown();
    QCOMPARE(shown.points.Count(), batch.count);
    QVERIFY(std::abs(shown.points.Mean() - batch.mean) < 1e-12);
    QVERIFY(std::abs(*shown.points.StandardDeviation() - *batch.standardDeviation) < 1e-12);
    QVERIFY(batch.minimum < batch.maximum);  // dithered: a spread to bin
    QCOMPARE(shown.points.Minimum(), batch.minimum);
    QCOMPARE(shown.points.Maximum(), batch.maximum);
    // Every value is counted in the bin that covers it, and in no other.
    std::vector<Histogram::Bin> bins = shown.histogram.Occupied();
    for (Histogram::Bin& bin : bins) {
      for (const double v : Values(readings)) bin.count -= v >= bin.lower && v < bin.upper;
      QCOMPARE(bin.count, std::uint64_t{0});
    }
  }

  void aPointIsTheMeanOfItsReadings() {
    Bench bench;
    SeriesTally tally(64);
    const std::vector<Reading> readings = bench.Run(tally, Bench::Setup(40), 4);
    const std::vector<double> values = Values(readings);
    QCOMPARE(tally.Shown().points.Count(), std::size_t{10});
    QVERIFY(std::abs(tally.Shown().points.Mean() - Describe(values).mean) < 1e-12);
    QCOMPARE(*tally.Shown().lastPoint, (values[36] + values[37] + values[38] + values[39]) / 4);
  }

  void limitsCountEveryPointOnce() {
    SeriesTally tally(64);
    tally.BeginSeries({9.0909, 0.0}, 1);
    tally.SetLimits(Limits::Around(4.7, 1.0, 2.0));  // 4.653 to 4.794
    const std::vector<double> values = {4.6, 4.66, 4.7, 4.79, 4.8, 4.75, 5.0};
    for (std::size_t i = 0; i < values.size(); ++i) {
      tally.Add(Made(static_cast<int>(i + 1), values[i]), static_cast<double>(i));
    }
    QCOMPARE(tally.Shown().passes, std::uint64_t{4});
    QCOMPARE(tally.Shown().fails, std::uint64_t{3});
    QCOMPARE(tally.Shown().lastVerdict, Verdict::Fail);
    tally.SetLimits(Limits::Around(5.0, 0.0, 0.0));
    QCOMPARE(tally.Shown().passes + tally.Shown().fails, std::uint64_t{0});
    QCOMPARE(tally.Shown().lastVerdict, Verdict::Pass);
  }

  void theTrendStaysWithinItsColumnsAndKeepsEveryPeak() {
    SeriesTally tally(100);
    tally.BeginSeries({1.0, 0.0}, 1);
    double low = 1e9;
    double high = -1e9;
    const int count = 100'003;
    for (int i = 1; i <= count; ++i) {
      const double value = 4.7 + 0.001 * ((i * 7919) % 1013) - (i == 55'555 ? 1.0 : 0.0);
      low = std::min(low, value);
      high = std::max(high, value);
      tally.Add(Made(i, value), i * 0.01);
    }
    const std::vector<Trend::Column>& columns = tally.Shown().trend.Columns();
    QVERIFY(columns.size() <= 100);
    std::size_t values = 0;
    double lowest = 1e9;
    double highest = -1e9;
    double before = 0.0;
    for (const Trend::Column& c : columns) {
      QVERIFY(c.first >= before && c.last >= c.first);
      before = c.last;
      values += c.values;
      lowest = std::min(lowest, c.low);
      highest = std::max(highest, c.high);
    }
    QCOMPARE(values, std::size_t(count));
    QCOMPARE(lowest, low);
    QCOMPARE(highest, high);
  }

  void holdFreezesTheViewsWhileTheTallyGoesOn() {
    Bench bench;
    SeriesTally tally(64);
    bench.Run(tally, Bench::Setup(5));
    tally.SetHold(true);
    const double mean = tally.Shown().points.Mean();
    bench.Run(tally, Bench::Setup(7, 20.0));  // another slope: a new mean
    QCOMPARE(tally.Shown().points.Count(), std::size_t{5});
    QCOMPARE(tally.Shown().points.Mean(), mean);
    QCOMPARE(tally.Kept().Size(), std::size_t{12});
    tally.SetHold(false);
    QCOMPARE(tally.Shown().points.Count(), std::size_t{12});
  }

  void failedReadingsAreCountedAndNeverPlotted() {
    Bench bench;
    SeriesTally tally(64);
    // Over 10 s high: time-outs; then the chip goes away: read errors.
    bench.chip.Circuit().SetParts({100e3, 100e-6});
    std::vector<Reading> readings = bench.Run(tally, Bench::Setup(2));
    bench.chip.Circuit().SetParts({});
    bench.chip.UnplugAt(bench.clock.Now() + std::chrono::seconds(3));
    for (const Reading& r : bench.Run(tally, Bench::Setup(12))) readings.push_back(r);
    const Summary summary = Summarize(readings, true);
    QVERIFY(summary.ok > 0 && summary.readErrors > 0 && summary.timedOut > 0);
    const TallyPicture& shown = tally.Shown();
    QCOMPARE(shown.readErrors, std::uint64_t(summary.readErrors));
    QCOMPARE(shown.timeOuts, std::uint64_t(summary.timedOut));
    QCOMPARE(shown.points.Count(), std::size_t(summary.ok));
    QCOMPARE(shown.histogram.Total(), std::uint64_t(summary.ok));
    std::size_t plotted = 0;
    std::size_t marked = 0;
    for (const Trend::Column& c : shown.trend.Columns()) {
      plotted += c.values;
      marked += c.failures;
      if (c.values > 0) QVERIFY(c.low > 4.0 && c.high < 5.0);
    }
    QCOMPARE(plotted, std::size_t(summary.ok));
    QCOMPARE(marked, std::size_t(summary.readErrors + summary.timedOut));
  }

  void stopTakesEffectWithinOnePoll() {
    Bench bench;
    SeriesTally tally(64);
    SeriesSetup setup = Bench::Setup(std::numeric_limits<int>::max());
    setup.dither = false;
    // A reading polls about 5170 times; the stop comes in the third one.
    const std::size_t stopAt = 12'345;
    StopDuringPoll driver(bench.chip, bench.stop, stopAt);
    const std::vector<Reading> readings = bench.Run(tally, setup, 1, &driver);
    QCOMPARE(driver.polls, stopAt);
    QCOMPARE(readings.size(), std::size_t{2});  // the abandoned one is not handed on
  }

  void aContinuousSeriesGivesUpWhenTheDeviceIsGone() {
    Bench bench;
    bench.chip.UnplugAt(bench.clock.Now() + std::chrono::seconds(2));
    SeriesWorker worker(bench.chip, bench.clock);
    worker.Start(bench.handle, Bench::Setup(std::numeric_limits<int>::max()), 1, nullptr);
    worker.Join();
    const SeriesWorker::Mail mail = worker.Collect();
    QVERIFY(mail.gaveUp);
    QVERIFY(mail.arrivals.front().reading.HasTime());
    const auto failures = std::count_if(mail.arrivals.begin(), mail.arrivals.end(), [](auto& a) {
      return a.reading.outcome == MeasureOutcome::ReadError;
    });
    QCOMPARE(failures, SeriesWorker::kFailuresToGiveUp);
  }

  void aFailedLogWriteStopsTheLogButNoReading() {
    const QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("log.csv"));
    ReadingLog log;
    QVERIFY(log.Open(path.toStdString()));
    log.Write(Made(1, 4.7));
    // Flushed: the row is in the file while the log is still open.
    std::ifstream early(path.toStdString());
    std::string header, row;
    std::getline(early, header);
    std::getline(early, row);
    QCOMPARE(row, ReadingCsvRow(Made(1, 4.7)));

    // The file may grow no further than 300 bytes: about ten rows.
    rlimit before{};
    getrlimit(RLIMIT_FSIZE, &before);
    const rlimit small{300, before.rlim_max};
    std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &small);
    Bench bench;
    SeriesWorker worker(bench.chip, bench.clock);
    worker.Start(bench.handle, Bench::Setup(20), 2, &log);
    worker.Join();
    setrlimit(RLIMIT_FSIZE, &before);
    const SeriesWorker::Mail mail = worker.Collect();
    QVERIFY(mail.finished);
    QVERIFY(!mail.logProblem.empty());
    QCOMPARE(mail.arrivals.size(), std::size_t{20});
    QCOMPARE(mail.arrivals.back().reading.index, 21);
    QVERIFY(!log.IsOpen());
    // What did reach the file is the readings in order, the last perhaps cut.
    std::ifstream file(path.toStdString());
    std::vector<std::string> rows;
    for (std::string line; std::getline(file, line);) rows.push_back(line);
    QVERIFY(rows.size() > 3 && rows.size() < 20);
    for (std::size_t i = 2; i + 1 < rows.size(); ++i) {
      QCOMPARE(rows[i], ReadingCsvRow(mail.arrivals[i - 2].reading));
    }
  }
};

}  // namespace capmeter

QTEST_APPLESS_MAIN(capmeter::SeriesTallyTest)
#include "series_tally_test.moc"
