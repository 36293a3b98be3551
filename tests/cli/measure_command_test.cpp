#include "cli/measure_command.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <sstream>

#include "tests/cli/cli_bench.h"

namespace capmeter {
namespace {

using std::chrono::duration;
using std::chrono::microseconds;
using std::chrono::milliseconds;
using testing::Lines;
using testing::SimMeter;

constexpr double kDefaultHighTime = 1.1 * 100e3 * 4.7e-6;  // 0.517 s

struct Outcome {
  int exitCode = -1;
  std::string out;
  std::string err;
};

Outcome Measure(SimMeter& sim, const cli::MeasureOptions& options) {
  std::ostringstream out;
  std::ostringstream err;
  Outcome run;
  run.exitCode = cli::RunMeasure(sim.Get(), options, out, err);
  run.out = out.str();
  run.err = err.str();
  return run;
}

// The CSV rows after the heading, split at the commas.
std::vector<std::vector<std::string>> CsvRows(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  const auto lines = Lines(text);
  EXPECT_FALSE(lines.empty());
  EXPECT_EQ(lines.front(), "index,seconds,microfarads,outcome,time,seconds_uncertainty,failure");
  for (std::size_t i = 1; i < lines.size(); ++i) {
    std::vector<std::string> fields;
    std::stringstream line(lines[i]);
    for (std::string field; std::getline(line, field, ',');) fields.push_back(field);
    if (!lines[i].empty() && lines[i].back() == ',') fields.emplace_back();
    rows.push_back(fields);
  }
  return rows;
}

cli::MeasureOptions Options(int count, std::string_view format = "csv") {
  cli::MeasureOptions options;
  options.series.count = count;
  options.format = FindReadingFormat(format);
  return options;
}

// The device must end out of bit-bang mode and closed, whatever happened.
void ExpectLetGo(const SimMeter& sim) {
  const auto& log = sim.log;
  ASSERT_GE(log.size(), 2U);
  EXPECT_EQ(log[log.size() - 2], "FT_SetBitMode mask=00 enable=00 -> 0");
  EXPECT_EQ(log.back(), "FT_Close -> 0");
  EXPECT_FALSE(sim.chip.IsOpen());
}

TEST(MeasureCommand, CsvHasAHeadingAndOneRowPerReadingWithAPointAsSeparator) {
  SimMeter sim;
  cli::MeasureOptions options = Options(5);
  options.series.calibration = {9.0909, 0.0};
  sim.context.decimalSeparator = ",";  // the table's only

  const Outcome run = Measure(sim, options);

  EXPECT_EQ(run.exitCode, cli::kExitOk) << run.err;
  const auto rows = CsvRows(run.out);
  ASSERT_EQ(rows.size(), 5U) << run.out;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    ASSERT_EQ(rows[i].size(), 7U);
    EXPECT_EQ(rows[i][0], std::to_string(i + 1));
    EXPECT_NEAR(std::strtod(rows[i][1].c_str(), nullptr), kDefaultHighTime, 1e-3);
    EXPECT_NEAR(std::strtod(rows[i][2].c_str(), nullptr), 4.7, 0.01);
    EXPECT_EQ(rows[i][3], "ok");
  }
  // The summary is kept out of the CSV.
  EXPECT_NE(run.err.find("Readings: 5 ok, 0 read errors, 0 timed out, 0 below range."),
            std::string::npos)
      << run.err;
  ExpectLetGo(sim);
}

TEST(MeasureCommand, TheTableUsesTheWindowsTextsAndTheLocalesSeparator) {
  SimMeter sim;
  cli::MeasureOptions options = Options(2, "table");
  options.series.calibration = {9.0909, 0.0};
  sim.context.decimalSeparator = ",";

  const Outcome run = Measure(sim, options);

  ASSERT_EQ(run.exitCode, cli::kExitOk) << run.err;
  const auto lines = Lines(run.out);
  ASSERT_GE(lines.size(), 7U) << run.out;
  EXPECT_EQ(lines[0], "#     t (s)         ± (s)         C (µF)        outcome");
  const std::regex reading(R"(\d +0,51\d* +0,\d+ +4,\d+ +ok)");
  EXPECT_TRUE(std::regex_match(lines[1], reading)) << lines[1];
  EXPECT_TRUE(std::regex_match(lines[2], reading)) << lines[2];
  EXPECT_EQ(lines[4], "Readings: 2 ok, 0 read errors, 0 timed out, 0 below range.");
  EXPECT_EQ(lines[5].find("mean"), 10U);
  EXPECT_EQ(lines[6].rfind("t (s)     0,51", 0), 0U) << lines[6];
  EXPECT_EQ(lines[7].rfind("C (µF)    4,", 0), 0U) << lines[7];
}

TEST(MeasureCommand, WithoutASlopeTheCapacitanceStaysEmpty) {
  SimMeter sim;
  const Outcome run = Measure(sim, Options(1));

  const auto rows = CsvRows(run.out);
  ASSERT_EQ(rows.size(), 1U);
  EXPECT_EQ(rows[0][2], "");
}

TEST(MeasureCommand, JsonIsOneDocumentWithTheReadingsAndTheSummary) {
  SimMeter sim;
  cli::MeasureOptions options = Options(3, "json");
  options.series.calibration = {2.0, 0.25};

  const Outcome run = Measure(sim, options);

  ASSERT_EQ(run.exitCode, cli::kExitOk);
  EXPECT_EQ(run.out.rfind("{\"readings\": [\n  {\"index\": 1, \"seconds\": 0.51", 0), 0U)
      << run.out;
  EXPECT_TRUE(run.out.ends_with("}}\n")) << run.out;
  EXPECT_NE(run.out.find("\"microfarads\": 1.28"), std::string::npos);  // 2 x 0.517 + 0.25
  EXPECT_NE(run.out.find("\"summary\": {\"ok\": 3, \"read_error\": 0, \"timed_out\": 0"),
            std::string::npos);
  EXPECT_NE(run.out.find("\"stopped_by_signal\": null"), std::string::npos);
  EXPECT_NE(run.out.find("\"seconds\": {\"count\": 3, \"mean\": 0.51"), std::string::npos);
  EXPECT_TRUE(run.err.empty()) << run.err;
}

// 10 nF at 100 kOhm behind a full-speed round trip: polls would miss by up
// to 1 ms, samples by 2 us. The summary says how the readings were timed.
TEST(MeasureCommand, StreamedReadingsCountSamplesAndSaySo) {
  const double T = 1.1 * 100e3 * 10e-9;
  for (const std::string_view format : {"csv", "json"}) {
    SimMeter sim({100e3, 10e-9}, milliseconds(1));
    cli::MeasureOptions options = Options(3, format);
    options.series.timing = Timing::Stream;
    options.series.sampleClock.requestedRate = 500e3;

    const Outcome run = Measure(sim, options);

    ASSERT_EQ(run.exitCode, cli::kExitOk) << run.err;
    EXPECT_DOUBLE_EQ(sim.chip.SampleRate(), 500e3);
    if (format == "csv") {
      for (const auto& row : CsvRows(run.out)) {
        EXPECT_NEAR(std::strtod(row[1].c_str(), nullptr), T, 2 / 500e3);
      }
      EXPECT_TRUE(std::regex_search(
          run.err,
          std::regex(
              R"(\nTimed by the chip's sample clock: 500000 S/s asked, [\d.]+ S/s measured, )"
              R"(± [\d.e+-]+ ppm \(one standard error\)\.\n)")))
          << run.err;
    } else {
      EXPECT_TRUE(std::regex_search(
          run.out, std::regex(R"(\n  "timing": "stream", "requested_samples_per_second": 5e\+05, )"
                              R"("measured_samples_per_second": [\d.]+, )"
                              R"("samples_per_second_standard_error": [\d.e+-]+\}\}\n$)")))
          << run.out;
    }
  }
}

TEST(MeasureCommand, CountsReadErrorsAndTimeOutsAndFailsTheRun) {
  SimMeter sim({100e3, 100e-9}, microseconds(100));  // 11 ms charges
  // Reading 2 sees D4 pulled low ("%" instead of a digit), reading 3 sees D1
  // stuck high until the time limit; 1 and 4 are good.
  sim.pins.onRead = [&sim](std::uint64_t) {
    const std::uint64_t reading = sim.pins.setUps;
    sim.pins.mask = reading == 2 ? 1U << 4 : reading == 3 ? 1U << 1 : 0;
    sim.pins.levels = reading == 3 ? 1U << 1 : 0;
  };

  const Outcome run = Measure(sim, Options(4));

  EXPECT_EQ(run.exitCode, cli::kExitFailed);
  const auto rows = CsvRows(run.out);
  ASSERT_EQ(rows.size(), 4U) << run.out;
  EXPECT_EQ(rows[0][3], "ok");
  EXPECT_EQ(rows[1][3], "read error");
  EXPECT_EQ(rows[1][1], "");
  EXPECT_NE(rows[1][6], "");  // why, as the table says it
  EXPECT_EQ(rows[0][6], "");
  EXPECT_EQ(rows[2][3], "timed out");
  EXPECT_EQ(rows[3][3], "ok");
  EXPECT_NE(run.err.find("Readings: 2 ok, 1 read error, 1 timed out, 0 below range."),
            std::string::npos)
      << run.err;
  ExpectLetGo(sim);
}

TEST(MeasureCommand, AStopSignalDropsTheReadingUnderWayPrintsTheSummaryAndClosesTheDevice) {
  SimMeter sim;                       // 0.517 s charges, a read every 100 us: some 5170 reads each
  sim.StopAfterReads(7'000, SIGINT);  // in the middle of the second reading

  const Outcome run = Measure(sim, Options(3, "table"));

  EXPECT_EQ(run.exitCode, 130);
  const auto lines = Lines(run.out);
  ASSERT_EQ(lines.size(), 6U) << run.out;
  EXPECT_EQ(lines[1].rfind("1 ", 0), 0U);
  EXPECT_EQ(lines[3],
            "Readings: 1 ok, 0 read errors, 0 timed out, 0 below range; stopped by SIGINT after 1 "
            "of 3, the "
            "reading under way dropped.");
  EXPECT_EQ(sim.pins.reads, 7'000U);  // abandoned at the read that saw the signal
  ExpectLetGo(sim);
}

TEST(MeasureCommand, AStopSignalDuringThePauseBetweenReadingsEndsTheRunToo) {
  SimMeter sim;
  cli::MeasureOptions options = Options(5);
  options.series.interval = std::chrono::seconds(60);
  int rests = 0;
  sim.context.control.rest = [&](Clock::Duration span) {
    ++rests;
    sim.clock.Wait(span / 2);
    sim.stopSignal = SIGTERM;
  };

  const Outcome run = Measure(sim, options);

  EXPECT_EQ(run.exitCode, 143);
  EXPECT_EQ(rests, 1);
  EXPECT_EQ(CsvRows(run.out).size(), 1U);
  EXPECT_NE(run.err.find("stopped by SIGTERM after 1 of 5"), std::string::npos) << run.err;
  ExpectLetGo(sim);
}

TEST(MeasureCommand, ReadingsStartOneIntervalApart) {
  SimMeter sim;
  cli::MeasureOptions options = Options(3);
  options.series.interval = std::chrono::seconds(2);
  std::vector<Clock::Duration> rests;
  sim.context.control.rest = [&](Clock::Duration span) {
    rests.push_back(span);
    sim.clock.Wait(span);
  };
  const Clock::Duration began = sim.clock.Now();

  const Outcome run = Measure(sim, options);

  ASSERT_EQ(run.exitCode, cli::kExitOk);
  ASSERT_EQ(rests.size(), 2U);
  // Each pause fills the interval up after a reading of about 0.517 s.
  for (const Clock::Duration rest : rests) {
    EXPECT_NEAR(duration<double>(rest).count(), 2.0 - kDefaultHighTime, 2e-3);
  }
  // Open, 3 readings started at 0, 2 and 4 s, the last one's charge, close.
  EXPECT_NEAR(duration<double>(sim.clock.Now() - began).count(), 4.0 + kDefaultHighTime, 3e-3);
}

TEST(MeasureCommand, SaysWhyTheDeviceCannotBeUsed) {
  {
    SimMeter sim;
    sim.chip.SetDeviceConnected(false);
    const Outcome run = Measure(sim, Options(3));
    EXPECT_EQ(run.exitCode, cli::kExitFailed);
    EXPECT_EQ(run.err,
              "capmeter-cli: could not open device 0: status 2 (device not found). Run "
              "\"capmeter-cli check\" to "
              "see which step fails.\n");
    EXPECT_TRUE(run.out.empty());
  }
  {
    SimMeter sim;
    sim.context.loadLibrary = [] { return DriverLoad{false, "could not load libx.so (gone)"}; };
    const Outcome run = Measure(sim, Options(3));
    EXPECT_EQ(run.exitCode, cli::kExitFailed);
    EXPECT_EQ(run.err, "capmeter-cli: driver library: could not load libx.so (gone).\n");
  }
}

// An output that takes `lines` lines, then fails every write with `error`,
// as a full disk or a reader that went away does.
class FailingOutput final : public std::streambuf {
 public:
  FailingOutput(int lines, int error) : lines_(lines), error_(error) {}
  std::string text;

 protected:
  int_type overflow(int_type c) override {
    if (lines_ == 0) {
      errno = error_;
      return traits_type::eof();
    }
    text += traits_type::to_char_type(c);
    lines_ -= c == '\n' ? 1 : 0;
    return c;
  }

 private:
  int lines_;
  int error_;
};

TEST(MeasureCommand, AFailedWriteStopsTheReadingsAndLetsTheDeviceGo) {
  struct Case {
    int error;
    std::string said;  // a reader gone away is no news
  };
  for (const Case& c :
       {Case{ENOSPC, "capmeter-cli: cannot write readings.csv: " +
                         std::string(std::strerror(ENOSPC)) + "; the readings stopped.\n"},
        Case{EPIPE, ""}}) {
    SimMeter sim;
    FailingOutput output(2, c.error);  // the heading and the first reading
    std::ostream out(&output);
    std::ostringstream err;
    cli::MeasureOptions options = Options(5);
    options.output = "readings.csv";

    EXPECT_EQ(cli::RunMeasure(sim.Get(), options, out, err), cli::kExitFailed);

    EXPECT_EQ(CsvRows(output.text).size(), 1U);
    EXPECT_EQ(sim.pins.setUps, 2U);  // the reading that could not be written, and no more
    EXPECT_EQ(err.str(), c.said);
    ExpectLetGo(sim);
  }
}

TEST(MeasureCommand, AProgressLineGoesToStandardErrorWhenAsked) {
  SimMeter sim;
  cli::MeasureOptions options = Options(2);
  options.progress = true;
  const Outcome run = Measure(sim, options);
  EXPECT_EQ(run.err.rfind("\rreading 1 of 2: ok   \rreading 2 of 2: ok   \n", 0), 0U) << run.err;
}

// At a full-speed round trip with the charge ending just after a poll, the
// undithered readings all land a whole round trip low; dithered, their mean
// lands half a measured poll period low.
TEST(MeasureCommand, DitherMovesTheMeanToHalfAPollBelowTheChargeTime) {
  const double L = 1e-3;
  const double T = 0.0331;  // 33.1 round trips
  double means[2] = {};
  for (const bool dither : {false, true}) {
    SimMeter sim({100e3, T / 1.1e5}, milliseconds(1));
    cli::MeasureOptions options = Options(100);
    options.series.dither = dither;
    options.series.seed = 2024;
    const Outcome run = Measure(sim, options);
    ASSERT_EQ(run.exitCode, cli::kExitOk);
    double sum = 0;
    for (const auto& row : CsvRows(run.out)) sum += std::strtod(row[1].c_str(), nullptr);
    means[dither] = sum / 100;
    EXPECT_EQ(run.err.find("Dithered over the poll period of 1 ms") != std::string::npos, dither)
        << run.err;
  }
  EXPECT_GT(std::fabs(means[0] - (T - L / 2)), 0.3 * L);
  EXPECT_NEAR(means[1], T - L / 2, 0.05 * L);
}

}  // namespace
}  // namespace capmeter
