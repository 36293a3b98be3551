#include "cli/check.h"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "device/vendor_library.h"
#include "tests/cli/cli_bench.h"

namespace capmeter {
namespace {

using testing::Lines;
using testing::SimMeter;

constexpr std::uint8_t kD1 = 1U << 1;
constexpr std::uint8_t kD4 = 1U << 4;
constexpr std::uint8_t kD5 = 1U << 5;

struct VerdictCase {
  const char* name;
  std::function<void(SimMeter&)> fault;
  int exitCode;
  std::size_t passedBeforeFailure;  // "ok" lines before the FAIL line
  std::string failure;              // the start of the FAIL line; empty when all pass
  bool opened;                      // the device was opened, so it must end closed
};

class CheckVerdicts : public ::testing::TestWithParam<VerdictCase> {};

TEST_P(CheckVerdicts, StopAtTheFirstFailingStepAndAlwaysLetTheDeviceGo) {
  const VerdictCase& c = GetParam();
  SimMeter sim;
  c.fault(sim);
  std::ostringstream out;

  EXPECT_EQ(cli::RunCheck(sim.Get(), out), c.exitCode);

  const auto lines = Lines(out.str());
  ASSERT_GT(lines.size(), c.passedBeforeFailure);
  for (std::size_t i = 0; i < c.passedBeforeFailure; ++i) {
    EXPECT_EQ(lines[i].rfind("ok    ", 0), 0U) << lines[i];
  }
  std::size_t failures = 0;
  for (const std::string& line : lines) failures += line.rfind("FAIL  ", 0) == 0 ? 1 : 0;
  if (c.failure.empty()) {
    EXPECT_EQ(failures, 0U);
    EXPECT_EQ(lines.back(),
              "Verdict: the driver, the chip and the wiring answer as the meter needs.");
  } else {
    EXPECT_EQ(failures, 1U) << out.str();
    EXPECT_EQ(lines[c.passedBeforeFailure].rfind("FAIL  " + c.failure, 0), 0U)
        << lines[c.passedBeforeFailure];
    EXPECT_EQ(lines.back().rfind("Verdict: ", 0), 0U);
  }
  if (c.opened) {
    EXPECT_EQ(sim.Calls("FT_SetBitMode mask=00 enable=00").size(), 1U);
    EXPECT_EQ(sim.Calls("FT_Close").size(), 1U);
    EXPECT_FALSE(sim.chip.IsOpen());
  } else {
    EXPECT_TRUE(sim.Calls("FT_SetBitMode").empty());
    EXPECT_TRUE(sim.Calls("FT_Close").empty());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Wiring, CheckVerdicts,
    ::testing::Values(VerdictCase{"AllGood", [](SimMeter&) {}, 0, 9, "", true},
                      VerdictCase{"NoDevice", [](SimMeter& s) { s.chip.SetDeviceConnected(false); },
                                  1, 1, "Open device 0: status 2 (device not found).", false},
                      VerdictCase{"D4PulledLow", [](SimMeter& s) { s.pins.mask = kD4; }, 1, 6,
                                  "D4 reads low although driven high", true},
                      VerdictCase{"D5PulledLow", [](SimMeter& s) { s.pins.mask = kD5; }, 1, 6,
                                  "D5 reads low although driven high", true},
                      VerdictCase{"D4AndD5PulledLow", [](SimMeter& s) { s.pins.mask = kD4 | kD5; },
                                  1, 6, "D4 and D5 read low", true},
                      VerdictCase{"D1StuckHigh",
                                  [](SimMeter& s) {
                                    s.pins.mask = kD1;
                                    s.pins.levels = kD1;
                                  },
                                  1, 5, "D1 reads high although the timer was not triggered", true},
                      VerdictCase{"ResetFails",
                                  [](SimMeter& s) { s.chip.SetBitBangResetFails(true); }, 1, 7,
                                  "Leave bit-bang mode: status 4 (I/O error).", true}),
    [](const auto& info) { return info.param.name; });

struct StreamCase {
  const char* name;
  std::function<void(SimMeter&)> chip;
  Timing timing;  // check's --timing
  int exitCode;
  std::string said;  // the start of the stream step's last line
};

class CheckStream : public ::testing::TestWithParam<StreamCase> {};

TEST_P(CheckStream, TrustsASteadyClockAndFailsAJitteryOneOnlyForStreamTiming) {
  const StreamCase& c = GetParam();
  SimMeter sim;  // 4.7 uF and 100 kOhm: 0.517 s
  c.chip(sim);
  std::ostringstream out;

  EXPECT_EQ(cli::RunCheck(sim.Get(), out, {}, cli::CheckOptions{c.timing, {}}), c.exitCode);

  const auto lines = Lines(out.str());
  ASSERT_GE(lines.size(), 4U);
  // Then "Leave bit-bang mode", "Close the device" and the verdict.
  EXPECT_EQ(lines[lines.size() - 4].rfind(c.said, 0), 0U) << out.str();
}

INSTANTIATE_TEST_SUITE_P(
    Clocks, CheckStream,
    ::testing::Values(
        StreamCase{"Steady", [](SimMeter&) {}, Timing::Stream, 0,
                   "ok    The stream can be trusted for timing: its std. dev. of "},
        StreamCase{"JitteryWithPolls", [](SimMeter& s) { s.chip.SetClockJitter(0.05); },
                   Timing::Poll, 0, "note  The stream cannot be trusted for timing: "},
        StreamCase{"JitteryWithStreamTiming", [](SimMeter& s) { s.chip.SetClockJitter(0.05); },
                   Timing::Stream, 1, "FAIL  The stream cannot be trusted for timing: "},
        StreamCase{"NoStream", [](SimMeter& s) { s.pins.streams = false; }, Timing::Poll, 0,
                   "note  Stream timing is unavailable: this driver cannot stream the pins."}),
    [](const auto& info) { return info.param.name; });

TEST(Check, ReportsThePinByteItRead) {
  SimMeter sim;
  std::ostringstream out;
  cli::RunCheck(sim.Get(), out);
  EXPECT_NE(out.str().find("ok    Read the pins: status 0, pin byte 0x35 (\"5\").\n"),
            std::string::npos)
      << out.str();
  // The timer was held in reset, then released without a trigger.
  EXPECT_EQ(sim.Calls("FT_Write"), (std::vector<std::string>{"FT_Write bytes=31 length=1 -> 0",
                                                             "FT_Write bytes=35 length=1 -> 0"}));
  EXPECT_EQ(sim.pins.reads, 1U);
}

TEST(Check, WithoutTheLibraryNamesItAndTouchesNoDevice) {
  VirtualClock clock;
  VendorLibrary vendor({"/nonexistent/capmeter/libftd2xx.so"});
  cli::CommandContext context{[&] { return LoadVendorLibrary(vendor); }, vendor, clock, {}};
  std::ostringstream out;

  EXPECT_EQ(cli::RunCheck(context, out), cli::kExitFailed);

  const auto lines = Lines(out.str());
  ASSERT_EQ(lines.size(), 2U) << out.str();
  EXPECT_EQ(lines[0].rfind("FAIL  Driver library: could not load "
                           "/nonexistent/capmeter/libftd2xx.so (",
                           0),
            0U)
      << lines[0];
  EXPECT_NE(lines[0].find("No such file"), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find("; tried /nonexistent/capmeter/libftd2xx.so."), std::string::npos);
}

#if defined(CAPMETER_FTD2XX_STANDIN)
TEST(Check, SaysWhichLibraryFileWasLoaded) {
  VirtualClock clock;
  VendorLibrary vendor({CAPMETER_FTD2XX_STANDIN});
  cli::CommandContext context{[&] { return LoadVendorLibrary(vendor); }, vendor, clock, {}};
  std::ostringstream out;

  // The stand-in reads back what was written, so D1 reads low.
  EXPECT_EQ(cli::RunCheck(context, out), cli::kExitOk) << out.str();
  EXPECT_EQ(Lines(out.str())[0],
            std::string("ok    Driver library: loaded ") + CAPMETER_FTD2XX_STANDIN + ".");
}
#endif

}  // namespace
}  // namespace capmeter
