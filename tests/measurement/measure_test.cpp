#include "measurement/measure.h"

#include <gtest/gtest.h>

#include <deque>

#include "device/device_link.h"
#include "sim/simulated_chip.h"
#include "sim/virtual_clock.h"
#include "tests/support/recording_display.h"
#include "tests/support/recording_driver.h"

namespace capmeter {
namespace {

using std::chrono::duration;
using std::chrono::microseconds;
using testing::EventLog;
using testing::RecordingDisplay;
using testing::RecordingDriver;

double Seconds(Clock::Duration span) {
  return duration<double>(span).count();
}

// The simulated circuit behind an opened link, with a recorder in between.
struct Bench {
  explicit Bench(CircuitParts parts = {}, Clock::Duration latency = microseconds(100))
      : chip(clock, parts) {
    chip.SetCallLatency(latency);
    OpenLink(link, chip, display);
    log.clear();
  }
  MeasureResult Sample() { return Measure(link.lngHandle, driver, display, clock); }

  VirtualClock clock;
  SimulatedChip chip;
  EventLog log;
  RecordingDriver driver{chip, log};
  RecordingDisplay display{log};
  DeviceLink link;
};

TEST(Measure, ClearsAndPaintsTheDisplaysThenDrivesTheTriggerPattern) {
  Bench bench;
  bench.Sample();
  const EventLog expected = {
      "SetCaption lblCapacitance ",
      "SetCaption lblTime Processing!",
      "RepaintNow lblTime",
      "FT_SetBitMode mask=fd enable=ff -> 0",
      "FT_Write bytes=31 length=1 -> 0",
      "FT_Write bytes=35 length=1 -> 0",
      "FT_Write bytes=34 length=1 -> 0",
      "FT_Write bytes=35 length=1 -> 0",
  };
  EXPECT_EQ(bench.log, expected);
  EXPECT_EQ(bench.display.painted[LabelSlot::lblTime], "Processing!");
  for (FT_HANDLE handle : bench.driver.handles) EXPECT_EQ(handle, SimulatedChip::Handle());
}

struct ChargeCase {
  double resistanceOhms;
  double capacitanceFarads;
  microseconds latency;
};

class MeasureChargeTime : public ::testing::TestWithParam<ChargeCase> {};

TEST_P(MeasureChargeTime, IsTheHighTimeToWithinOnePoll) {
  const ChargeCase c = GetParam();
  Bench bench({c.resistanceOhms, c.capacitanceFarads}, c.latency);
  const double highTime = Seconds(bench.chip.Circuit().HighTime());

  const MeasureResult result = bench.Sample();

  ASSERT_EQ(result.outcome, MeasureOutcome::ChargeTime);
  EXPECT_NEAR(result.seconds, highTime, Seconds(c.latency) + 1e-6 * highTime);
  EXPECT_NEAR(static_cast<double>(result.polls), highTime / Seconds(c.latency), 2.0);
  EXPECT_EQ(bench.display.captions[LabelSlot::lblTime], "Processing!");  // left for the results
}

INSTANTIATE_TEST_SUITE_P(Circuits, MeasureChargeTime,
                         ::testing::Values(ChargeCase{100e3, 4.7e-6, microseconds(100)},
                                           ChargeCase{10e3, 1e-6, microseconds(1)},
                                           ChargeCase{1e6, 2.2e-6, microseconds(1000)},
                                           ChargeCase{1e3, 1e-6, microseconds(125)}));

TEST(Measure, D1AlreadyLowTakesExactlyOnePass) {
  Bench bench({.resistanceOhms = 100e3, .capacitanceFarads = 0.0}, microseconds(0));
  const MeasureResult result = bench.Sample();
  EXPECT_EQ(result.outcome, MeasureOutcome::ChargeTime);
  EXPECT_EQ(result.polls, 1U);
  EXPECT_EQ(bench.driver.getBitModeCalls, 1U);
  EXPECT_EQ(result.seconds, 0.0F);
}

TEST(Measure, TwoPressesInARowAreIndependent) {
  Bench bench;
  const MeasureResult first = bench.Sample();
  const auto firstLog = bench.log;
  bench.log.clear();
  const MeasureResult second = bench.Sample();
  EXPECT_EQ(bench.log, firstLog);  // the same set-up and trigger again
  EXPECT_EQ(second.outcome, MeasureOutcome::ChargeTime);
  EXPECT_NEAR(second.seconds, first.seconds, 1e-4);
}

TEST(Measure, WithoutADeviceEndsWithReadError) {
  Bench bench;
  bench.chip.SetDeviceConnected(false);
  DeviceLink link;  // a fresh link whose open fails
  OpenLink(link, bench.chip, bench.display);
  bench.display.captions[LabelSlot::lblCapacitance] = "1.25";

  const MeasureResult result = Measure(link.lngHandle, bench.driver, bench.display, bench.clock);

  EXPECT_EQ(result.outcome, MeasureOutcome::ReadError);
  EXPECT_FALSE(result.HasTime());
  EXPECT_EQ(result.polls, 1U);
  EXPECT_EQ(bench.display.captions[LabelSlot::lblTime], "Read Error!");
  EXPECT_EQ(bench.display.captions[LabelSlot::lblCapacitance], "");
}

TEST(Measure, AnInputStuckHighTimesOut) {
  Bench bench({.resistanceOhms = 1e6, .capacitanceFarads = 1.0}, microseconds(1000));
  const auto start = bench.clock.Now();
  const MeasureResult result = bench.Sample();
  EXPECT_EQ(result.outcome, MeasureOutcome::TimedOut);
  EXPECT_EQ(bench.display.captions[LabelSlot::lblTime], "Timed Out!");
  EXPECT_GE(bench.clock.Now() - start, kPollTimeLimit);
  EXPECT_LT(bench.clock.Now() - start, kPollTimeLimit + std::chrono::milliseconds(10));
}

TEST(Measure, AnUnplugAfterASevenTimesOut) {
  Bench bench;  // D1 high for about 0.517 s
  bench.chip.UnplugAt(bench.clock.Now() + std::chrono::milliseconds(100));
  const MeasureResult result = bench.Sample();
  EXPECT_EQ(result.outcome, MeasureOutcome::TimedOut);
  EXPECT_GT(result.polls, 900U);  // it saw "7" for 0.1 s before the reads failed
  EXPECT_EQ(bench.display.captions[LabelSlot::lblTime], "Timed Out!");
}

// Answers every read with the next character of a script, then "5".
class ScriptedPins final : public DriverLibrary {
 public:
  explicit ScriptedPins(std::string script) : script_(script.begin(), script.end()) {}
  FT_STATUS FT_Open(std::int32_t, FT_HANDLE*) override { return 0; }
  FT_STATUS FT_SetBitMode(FT_HANDLE, std::uint8_t, std::uint8_t) override { return 0; }
  FT_STATUS FT_Write(FT_HANDLE, const void*, std::uint32_t, std::uint32_t*) override { return 0; }
  FT_STATUS FT_GetBitMode(FT_HANDLE, std::uint8_t* pins) override {
    *pins = script_.empty() ? '5' : static_cast<std::uint8_t>(script_.front());
    if (!script_.empty()) script_.pop_front();
    return 0;
  }
  FT_STATUS FT_Close(FT_HANDLE) override { return 0; }

 private:
  std::deque<char> script_;
};

struct PollCase {
  std::string script;
  MeasureOutcome outcome;
  std::uint64_t polls;
};

class MeasurePollTest : public ::testing::TestWithParam<PollCase> {};

TEST_P(MeasurePollTest, GoesOnExactlyWhileTheDigitHasBitOneSet) {
  ScriptedPins pins(GetParam().script);
  VirtualClock clock;
  EventLog log;
  RecordingDisplay display(log);
  const MeasureResult result = Measure(nullptr, pins, display, clock);
  EXPECT_EQ(result.outcome, GetParam().outcome);
  EXPECT_EQ(result.polls, GetParam().polls);
}

std::vector<PollCase> PollCases() {
  std::vector<PollCase> cases;
  for (char digit : std::string("2367")) cases.push_back({{digit}, MeasureOutcome::ChargeTime, 2});
  for (char digit : std::string("014589"))
    cases.push_back({{digit}, MeasureOutcome::ChargeTime, 1});
  for (char other : std::string("A:/ \x7f\xb7"))
    cases.push_back({{other}, MeasureOutcome::ReadError, 1});
  cases.push_back({std::string(1, '\0'), MeasureOutcome::ReadError, 1});
  cases.push_back({"777A", MeasureOutcome::ReadError, 4});
  cases.push_back({"7777771", MeasureOutcome::ChargeTime, 7});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Characters, MeasurePollTest, ::testing::ValuesIn(PollCases()),
                         [](const auto& info) {
                           std::string name = "Bytes";
                           for (char c : info.param.script) {
                             name += "_" + RecordingDriver::Hex(static_cast<std::uint8_t>(c));
                           }
                           return name;
                         });

}  // namespace
}  // namespace capmeter
