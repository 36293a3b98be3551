#include "cli/calibrate_command.h"

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <cstdlib>
#include <regex>
#include <sstream>

#include "measurement/lenient_number.h"
#include "measurement/result_text.h"
#include "tests/cli/cli_bench.h"

namespace capmeter {
namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;
using testing::SimMeter;

constexpr double kOhms = 100e3;
// m = 1 / (1.1 x R) in farads per second, times 1e6 for microfarads.
constexpr double kSlope = 1e6 / (1.1 * kOhms);

struct Outcome {
  int exitCode = -1;
  std::string out;
  std::string err;
  std::vector<std::string> connected;
  double m = 0.0;
  double b = 0.0;
};

cli::KnownCapacitor Known(const std::string& text, double microfarads) {
  return {text, microfarads};
}

// Calibrates on the simulated circuit, each known capacitor becoming the
// simulated part when it is "connected".
// `actual` gives a capacitor whose part is not what its label says.
Outcome Calibrate(SimMeter& sim, std::vector<cli::KnownCapacitor> capacitors, int count = 10,
                  bool dither = false, Timing timing = Timing::Poll,
                  const std::map<std::string, double>& actual = {}, bool force = false) {
  cli::CalibrateOptions options;
  options.force = force;
  options.capacitors = std::move(capacitors);
  options.count = count;
  options.dither = dither;
  options.timing = timing;
  options.seed = 99;
  Outcome run;
  std::ostringstream out;
  std::ostringstream err;
  run.exitCode = cli::RunCalibrate(
      sim.Get(), options,
      [&](const cli::KnownCapacitor& c) {
        run.connected.push_back(c.text);
        const auto part = actual.find(c.text);
        sim.chip.Circuit().SetParts(
            {kOhms, (part != actual.end() ? part->second : c.microfarads) * 1e-6});
        return true;
      },
      out, err);
  run.out = out.str();
  run.err = err.str();
  // The texts for the window's boxes, read back as the window reads them.
  std::smatch match;
  if (std::regex_search(run.out, match, std::regex("boxes:  m = (\\S+)   b = (\\S+)\n"))) {
    run.m = LenientNumber(match[1].str());
    run.b = LenientNumber(match[2].str());
  }
  return run;
}

TEST(CalibrateCommand, TwoCapacitorsGiveTheCircuitsSlopeAndNoIntercept) {
  SimMeter sim({}, microseconds(10));
  const Outcome run = Calibrate(sim, {Known("1u", 1), Known("10u", 10)});

  ASSERT_EQ(run.exitCode, cli::kExitOk) << run.err;
  EXPECT_EQ(run.connected, (std::vector<std::string>{"1u", "10u"}));
  EXPECT_NEAR(run.m, kSlope, 1e-3 * kSlope) << run.out;
  // Undithered, the readings lean up to one round trip low: b is m x 10 us
  // at most.
  EXPECT_GE(run.b, 0.0) << run.out;
  EXPECT_LE(run.b, kSlope * 10e-6 * 1.01) << run.out;
  EXPECT_NE(run.out.find("  m = "), std::string::npos);
  EXPECT_NE(run.out.find(" µF/s\n"), std::string::npos);
  EXPECT_NE(run.out.find("capmeter --slope="), std::string::npos);
  EXPECT_EQ(sim.Calls("FT_Open").size(), 1U);  // one open for the whole calibration
  EXPECT_FALSE(sim.chip.IsOpen());
}

TEST(CalibrateCommand, DitheredAtAFullSpeedRoundTripTheInterceptTakesUpHalfAPoll) {
  SimMeter sim({}, milliseconds(1));
  const Outcome run =
      Calibrate(sim, {Known("1u", 1), Known("2.2u", 2.2), Known("10u", 10)}, 20, true);

  ASSERT_EQ(run.exitCode, cli::kExitOk) << run.err;
  EXPECT_NEAR(run.m, kSlope, 2e-3 * kSlope) << run.out;
  // Times half a millisecond short: C = m x (t + 0.5 ms), so b = m x 0.5 ms.
  EXPECT_NEAR(run.b, kSlope * 0.5e-3, kSlope * 0.1e-3) << run.out;
  // One line per capacitor with its residual.
  for (const char* text : {"\n  1u ", "\n  2.2u ", "\n  10u "}) {
    EXPECT_NE(run.out.find(text), std::string::npos) << text;
  }
  EXPECT_NE(run.out.find("\nMade with poll timing; a line made with one timing does not hold "
                         "for the other: "),
            std::string::npos)
      << run.out;
}

TEST(CalibrateCommand, StreamedAtAFullSpeedRoundTripTheInterceptStaysWithinTwoSamples) {
  SimMeter sim({}, milliseconds(1));
  const Outcome run = Calibrate(sim, {Known("1u", 1), Known("10u", 10)}, 3, true, Timing::Stream);

  ASSERT_EQ(run.exitCode, cli::kExitOk) << run.err;
  EXPECT_NEAR(run.m, kSlope, 1e-4 * kSlope) << run.out;
  EXPECT_NEAR(run.b, 0.0, kSlope * 2e-6) << run.out;
  EXPECT_TRUE(std::regex_search(
      run.out, std::regex(R"(\nMade with stream timing at [\d.]+ S/s \(1000000 asked\); )")))
      << run.out;
}

TEST(CalibrateCommand, RefusesFewerThanTwoDifferentCapacitorsBeforeTouchingTheDevice) {
  SimMeter sim;
  const Outcome run = Calibrate(sim, {Known("1u", 1e-6 * 1e6), Known("1000n", 1000e-9 * 1e6)});
  EXPECT_EQ(run.exitCode, cli::kExitUsage);
  EXPECT_NE(run.err.find("at least two different capacitors"), std::string::npos) << run.err;
  EXPECT_TRUE(sim.log.empty());
  EXPECT_TRUE(run.connected.empty());
}

// A capacitor off its label by 10 % lies off the line by far more than its
// readings' bounds explain: named, and the line refused unless forced.
TEST(CalibrateCommand, ACapacitorOffTheLineIsNamedAndTheLineRefusedUnlessForced) {
  const std::vector<cli::KnownCapacitor> known = {Known("1u", 1), Known("2.2u", 2.2),
                                                  Known("10u", 10)};
  for (const bool force : {false, true}) {
    SimMeter sim;
    const Outcome run = Calibrate(sim, known, 3, false, Timing::Poll, {{"2.2u", 2.42}}, force);
    EXPECT_EQ(run.exitCode, force ? cli::kExitOk : cli::kExitFailed) << run.err;
    EXPECT_NE(run.err.find("capmeter-cli: 2.2u: "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("beyond the ± "), std::string::npos) << run.err;
    EXPECT_EQ(run.out.find("boxes:") != std::string::npos, force) << run.out;
  }
  SimMeter honest;
  const Outcome run = Calibrate(honest, known, 3);
  EXPECT_EQ(run.exitCode, cli::kExitOk) << run.err;
  EXPECT_NE(run.out.find("The line is fitted within ± "), std::string::npos) << run.out;
}

TEST(CalibrateCommand, ChargesBelowTheRangeFitNoLine) {
  SimMeter sim({}, microseconds(0));
  sim.pins.mask = 1U << 1;  // D1 never high: every charge ended by the first look
  const Outcome run = Calibrate(sim, {Known("1u", 1), Known("10u", 10)}, 3);
  EXPECT_EQ(run.exitCode, cli::kExitFailed);
  EXPECT_NE(run.err.find("no reading of 1u gave a time (0 read errors, 0 timed out, 3 below "
                         "range)"),
            std::string::npos)
      << run.err;
  EXPECT_FALSE(sim.chip.IsOpen());
}

TEST(CalibrateCommand, ACapacitorWithoutATimeFitsNoLine) {
  SimMeter sim;
  sim.pins.onRead = [&sim](std::uint64_t) {
    sim.pins.mask = sim.pins.setUps > 10 ? 1U << 4 : 0;  // D4 pulled low from the 11th reading
  };
  const Outcome run = Calibrate(sim, {Known("1u", 1), Known("10u", 10)});
  EXPECT_EQ(run.exitCode, cli::kExitFailed);
  EXPECT_NE(
      run.err.find("no reading of 10u gave a time (10 read errors, 0 timed out, 0 below range)"),
      std::string::npos)
      << run.err;
  EXPECT_EQ(run.out.find("m = "), std::string::npos);
}

TEST(CalibrateCommand, NoAnswerOrAStopSignalAtThePromptEndsItWithoutALine) {
  for (const int signal : {0, SIGINT}) {
    SCOPED_TRACE(signal);
    SimMeter sim;
    cli::CalibrateOptions options;
    options.capacitors = {Known("1u", 1), Known("10u", 10)};
    std::ostringstream out;
    std::ostringstream err;
    int asked = 0;
    const int code = cli::RunCalibrate(
        sim.Get(), options,
        [&](const cli::KnownCapacitor&) {
          if (++asked < 2) return true;
          sim.stopSignal = signal;  // Ctrl-C at the second prompt, or end of input
          return false;
        },
        out, err);
    EXPECT_EQ(code, signal == 0 ? cli::kExitFailed : 130);
    EXPECT_EQ(asked, 2);
    EXPECT_NE(err.str().find("no line was fitted"), std::string::npos);
    EXPECT_FALSE(sim.chip.IsOpen());
  }
}

TEST(BoxText, ReadsBackThroughTheWindowsNumberRulesToSevenDigits) {
  for (const double value : {9.090909090909, -4.475355e-05, 0.0, -0.0, 1234567.89, 1e-12, 90.9}) {
    SCOPED_TRACE(value);
    const std::string text = BoxText(value);
    EXPECT_EQ(text.find(','), std::string::npos);
    EXPECT_NEAR(LenientNumber(text), value, 5e-7 * std::fabs(value)) << text;
  }
  EXPECT_EQ(BoxText(-0.0), "0");
  EXPECT_EQ(BoxText(9.090909090909), "9.090909");
}

}  // namespace
}  // namespace capmeter
