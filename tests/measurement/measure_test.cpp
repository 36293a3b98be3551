#include "measurement/measure.h"

#include <gtest/gtest.h>

#include <deque>

#include "device/device_link.h"
#include "sim/simulated_chip.h"
#include "sim/virtual_clock.h"
#include "tests/support/faulty_driver.h"
#include "tests/support/recording_display.h"
#include "tests/support/recording_driver.h"

namespace capmeter {
namespace {

using namespace std::chrono;
using namespace testing;

// The simulated circuit behind an opened link, with faults that a test
// injects and a recorder in between.
struct Bench {
  explicit Bench(CircuitParts parts = {}, Clock::Duration latency = microseconds(100),
                 std::vector<FaultyDriver::Fault> faults = {})
      : chip(clock, parts), faulty(chip, clock, std::move(faults)) {
    chip.SetCallLatency(latency);
    OpenLink(link, chip, display);
    log.clear();
  }
  MeasureResult Sample() { return Measure(link.lngHandle, driver, display, clock); }

  VirtualClock clock;
  SimulatedChip chip;
  FaultyDriver faulty;
  EventLog log;
  RecordingDriver driver{faulty, log};
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
  const double highTime = ToSeconds(bench.chip.Circuit().HighTime());

  const MeasureResult result = bench.Sample();

  ASSERT_EQ(result.outcome, MeasureOutcome::ChargeTime);
  EXPECT_NEAR(result.seconds, highTime, ToSeconds(c.latency) + 1e-6 * highTime);
  EXPECT_NEAR(static_cast<double>(result.polls), highTime / ToSeconds(c.latency), 2.0);
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
  // The switch-on already fails on the handle the failed open left.
  EXPECT_EQ(result.polls, 0U);
  EXPECT_EQ(bench.driver.getBitModeCalls, 0U);
  EXPECT_EQ(bench.faulty.callsAfterFailure, 0U);
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

// A chip unplugged mid-charge used to leave the loop spinning on the last
// "7" it read until the limit, then say "Timed Out!" as if the capacitor were
// too large. The first failed read now ends it.
TEST(Measure, AnUnplugMidChargeIsAReadErrorAtTheNextPoll) {
  Bench bench({.resistanceOhms = 100e3, .capacitanceFarads = 27.3e-6});  // about 3 s high
  ASSERT_GT(bench.chip.Circuit().HighTime(), std::chrono::seconds(3));
  const auto start = bench.clock.Now();
  bench.chip.UnplugAt(start + std::chrono::milliseconds(200));

  const MeasureResult result = bench.Sample();

  EXPECT_EQ(result.outcome, MeasureOutcome::ReadError);
  EXPECT_EQ(bench.display.captions[LabelSlot::lblTime], "Read Error!");
  EXPECT_EQ(bench.display.captions[LabelSlot::lblCapacitance], "");
  // Five calls set up, then a read every 100 us up to the one at 0.2 s.
  EXPECT_EQ(result.polls, 2000U - 5U);
  EXPECT_LE(bench.clock.Now() - start, std::chrono::milliseconds(200) + microseconds(100));
  EXPECT_EQ(bench.faulty.callsAfterFailure, 0U);
}

// One fault per case; each must end the measurement with "Read Error!" at the
// failing call, before any time is taken or any result shown.
struct FailureCase {
  const char* name;
  FaultyDriver::Fault fault;
  std::size_t writes;  // FT_Write calls made, the failing one included
  std::uint64_t polls;
  const char* failure;  // in the driver's words
};

class MeasureFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(MeasureFailure, EndsWithReadErrorAndNoFurtherCall) {
  const FailureCase& c = GetParam();
  Bench bench({}, microseconds(100), {c.fault});
  bench.display.captions[LabelSlot::lblCapacitance] = "1.000023";

  const MeasureResult result = bench.Sample();

  EXPECT_EQ(result.outcome, MeasureOutcome::ReadError);
  EXPECT_FALSE(result.HasTime());
  EXPECT_EQ(result.polls, c.polls);
  EXPECT_EQ(result.failure, c.failure);
  EXPECT_EQ(bench.faulty.Calls(FaultyDriver::Operation::Write), c.writes);
  EXPECT_EQ(bench.faulty.Calls(FaultyDriver::Operation::GetBitMode), c.polls);
  EXPECT_EQ(bench.faulty.callsAfterFailure, 0U);
  EXPECT_EQ(bench.display.captions[LabelSlot::lblTime], "Read Error!");
  EXPECT_EQ(bench.display.captions[LabelSlot::lblCapacitance], "");
  ASSERT_FALSE(bench.log.empty());
  EXPECT_EQ(bench.log.back(), "SetCaption lblTime Read Error!");
}

using Op = FaultyDriver::Operation;
constexpr auto Fails = FaultyDriver::Fails;
constexpr auto ShortWrite = FaultyDriver::ShortWrite;
constexpr auto Stalls = FaultyDriver::Stalls;
constexpr FT_STATUS kIoError = sim_status::kIoError;
constexpr const char* kWriteFailed = "FT_Write: status 4 (I/O error)";
constexpr const char* kWriteShort = "FT_Write: 0 of 1 bytes written";
constexpr const char* kReadFailed = "FT_GetBitMode: status 4 (I/O error)";

INSTANTIATE_TEST_SUITE_P(
    Faults, MeasureFailure,
    ::testing::Values(
        FailureCase{"SwitchOnFails", Fails(Op::SetBitMode, 1, kIoError), 0, 0,
                    "FT_SetBitMode: status 4 (I/O error)"},
        FailureCase{"FirstWriteFails", Fails(Op::Write, 1, kIoError), 1, 0, kWriteFailed},
        FailureCase{"SecondWriteFails", Fails(Op::Write, 2, kIoError), 2, 0, kWriteFailed},
        FailureCase{"ThirdWriteFails", Fails(Op::Write, 3, kIoError), 3, 0, kWriteFailed},
        FailureCase{"FourthWriteFails", Fails(Op::Write, 4, kIoError), 4, 0, kWriteFailed},
        FailureCase{"FirstWriteShort", ShortWrite(1, 0), 1, 0, kWriteShort},
        FailureCase{"FourthWriteShort", ShortWrite(4, 0), 4, 0, kWriteShort},
        FailureCase{"FirstReadFails", Fails(Op::GetBitMode, 1, kIoError), 4, 1, kReadFailed},
        FailureCase{"LaterReadFails", Fails(Op::GetBitMode, 1000, kIoError), 4, 1000, kReadFailed},
        FailureCase{"OddStatus", Fails(Op::GetBitMode, 3, 0x80000000U), 4, 3,
                    "FT_GetBitMode: status 2147483648"}),
    [](const auto& info) { return std::string(info.param.name); });

// The limit holds for every read, the last one too: a read that comes back
// after it is never taken as the end of the charge.
struct BoundCase {
  const char* name;
  CircuitParts parts;
  microseconds latency;
  FaultyDriver::Fault stall;
  MeasureOutcome outcome;
};

class MeasureBound : public ::testing::TestWithParam<BoundCase> {};

TEST_P(MeasureBound, CountsEveryReadAgainstTheLimit) {
  const BoundCase& c = GetParam();
  Bench bench(c.parts, c.latency, {c.stall});
  const MeasureResult result = bench.Sample();
  EXPECT_EQ(result.outcome, c.outcome);
  EXPECT_EQ(result.polls, c.stall.call);
  EXPECT_EQ(bench.display.captions[LabelSlot::lblTime],
            c.outcome == MeasureOutcome::TimedOut ? "Timed Out!" : "Processing!");
  if (result.HasTime()) {
    EXPECT_LT(result.seconds, 10.0F + 1e-6F);
  }
}

constexpr CircuitParts kHalfSecond{100e3, 4.7e-6};
constexpr CircuitParts kAlreadyLow{100e3, 0.0};

INSTANTIATE_TEST_SUITE_P(
    Stalls, MeasureBound,
    ::testing::Values(
        // D1 is high for 0.517 s, but the second read only returns after 12 s,
        // when D1 has long been low.
        BoundCase{"SecondReadBackAfter12s", kHalfSecond, microseconds(100),
                  Stalls(Op::GetBitMode, 2, seconds(12)), MeasureOutcome::TimedOut},
        BoundCase{"OnlyReadBackAtTheLimit", kAlreadyLow, microseconds(0),
                  Stalls(Op::GetBitMode, 1, seconds(10)), MeasureOutcome::TimedOut},
        BoundCase{"OnlyReadBackJustBeforeTheLimit", kAlreadyLow, microseconds(0),
                  Stalls(Op::GetBitMode, 1, seconds(10) - nanoseconds(1)),
                  MeasureOutcome::ChargeTime},
        BoundCase{"ReadSlowButInTime", kHalfSecond, microseconds(100),
                  Stalls(Op::GetBitMode, 2, seconds(9)), MeasureOutcome::ChargeTime}),
    [](const auto& info) { return std::string(info.param.name); });

// Answers every read with the next character of a script, then "5".
class ScriptedPins final : public DriverLibrary {
 public:
  explicit ScriptedPins(std::string script) : script_(script.begin(), script.end()) {}
  FT_STATUS FT_Open(std::int32_t, FT_HANDLE*) override { return 0; }
  FT_STATUS FT_SetBitMode(FT_HANDLE, std::uint8_t, std::uint8_t) override { return 0; }
  FT_STATUS FT_Write(FT_HANDLE, const void*, std::uint32_t length,
                     std::uint32_t* written) override {
    *written = length;
    return 0;
  }
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
