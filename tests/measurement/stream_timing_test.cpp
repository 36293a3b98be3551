#include "measurement/stream_timing.h"

#include <gtest/gtest.h>

#include "device/device_link.h"
#include "measurement/series.h"
#include "sim/simulated_chip.h"
#include "sim/virtual_clock.h"
#include "tests/support/faulty_driver.h"
#include "tests/support/forwarding_driver.h"
#include "tests/support/recording_display.h"

namespace capmeter {
namespace {

using namespace std::chrono;
using namespace testing;

// The simulated circuit behind an opened link, its sample rate measured as
// a series measures it.
struct StreamBench {
  explicit StreamBench(CircuitParts parts = {}, Clock::Duration latency = microseconds(0),
                       std::vector<FaultyDriver::Fault> faults = {})
      : chip(clock, parts), faulty(chip, clock, std::move(faults)) {
    chip.SetCallLatency(latency);
    OpenLink(link, chip, display);
  }
  RateMeasurement MeasureRate(Clock::Duration span = kRateMeasureSpan) {
    const RateMeasurement measured =
        MeasureSampleRate(link.lngHandle, faulty, clock, sampleClock.requestedRate, span);
    sampleClock.rate = measured.rate;
    return measured;
  }
  MeasureResult Sample() {
    return MeasureByStream(link.lngHandle, faulty, display, clock, sampleClock);
  }

  VirtualClock clock;
  SimulatedChip chip;
  FaultyDriver faulty;
  EventLog log;
  RecordingDisplay display{log};
  DeviceLink link;
  SampleClock sampleClock;
};

struct StreamCase {
  double highTimeSeconds;
  microseconds latency;
};

class StreamedChargeTime : public ::testing::TestWithParam<StreamCase> {};

// Within two sample periods whatever the round trip: the count does not
// depend on when the host looks.
TEST_P(StreamedChargeTime, IsTheHighTimeToWithinTwoSamples) {
  const StreamCase c = GetParam();
  StreamBench bench({100e3, c.highTimeSeconds / 1.1 / 100e3}, c.latency);
  ASSERT_TRUE(bench.MeasureRate().Measured());
  EXPECT_NEAR(bench.sampleClock.rate, kDefaultSampleRate, 1.0);

  const MeasureResult result = bench.Sample();

  ASSERT_EQ(result.outcome, MeasureOutcome::ChargeTime) << result.failure;
  EXPECT_NEAR(result.seconds, c.highTimeSeconds,
              2.0 / kDefaultSampleRate + 1e-7 * c.highTimeSeconds);
  EXPECT_TRUE(bench.chip.InBitBangMode());
}

INSTANTIATE_TEST_SUITE_P(ChargesAndRoundTrips, StreamedChargeTime,
                         ::testing::Values(StreamCase{0.11e-3, microseconds(0)},
                                           StreamCase{1.1e-3, microseconds(125)},
                                           StreamCase{10e-3, microseconds(1000)},
                                           StreamCase{0.517, microseconds(1000)},
                                           StreamCase{0.517, microseconds(0)}));

// What a reading leaves behind is what polling expects: the next polled
// reading is as good as ever.
TEST(MeasureByStream, LeavesTheChipAsPollingExpectsIt) {
  StreamBench bench({100e3, 10e-9}, microseconds(125));
  ASSERT_TRUE(bench.MeasureRate().Measured());
  ASSERT_EQ(bench.Sample().outcome, MeasureOutcome::ChargeTime);

  const MeasureResult polled =
      Measure(bench.link.lngHandle, bench.faulty, bench.display, bench.clock);

  ASSERT_EQ(polled.outcome, MeasureOutcome::ChargeTime);
  EXPECT_NEAR(polled.seconds, 1.1e-3, 125e-6 + 1e-6);
}

// One fault per case: the reading ends with its outcome and no call follows
// a failed one.
struct StreamFault {
  const char* name;
  CircuitParts parts;
  std::vector<FaultyDriver::Fault> faults;
  MeasureOutcome outcome;
  const char* failure;  // the start of the failure text
};

class MeasureByStreamFault : public ::testing::TestWithParam<StreamFault> {};

TEST_P(MeasureByStreamFault, EndsWithItsOutcomeAndNoFurtherCall) {
  const StreamFault& c = GetParam();
  StreamBench bench(c.parts, microseconds(125), c.faults);
  bench.sampleClock.rate = kDefaultSampleRate;

  const MeasureResult result = bench.Sample();

  EXPECT_EQ(result.outcome, c.outcome);
  EXPECT_EQ(result.failure.substr(0, std::string_view(c.failure).size()), c.failure)
      << result.failure;
  EXPECT_EQ(bench.faulty.callsAfterFailure, 0U);
  EXPECT_EQ(bench.display.captions[LabelSlot::lblTime],
            c.outcome == MeasureOutcome::TimedOut ? "Timed Out!" : "Read Error!");
}

using Op = FaultyDriver::Operation;
constexpr auto Fails = FaultyDriver::Fails;
constexpr auto Stalls = FaultyDriver::Stalls;
constexpr FT_STATUS kIoError = sim_status::kIoError;
constexpr CircuitParts k10ms{91e3, 100e-9};

INSTANTIATE_TEST_SUITE_P(
    Faults, MeasureByStreamFault,
    ::testing::Values(StreamFault{"BaudRateRefused",
                                  k10ms,
                                  {Fails(Op::SetBaudRate, 1, kIoError)},
                                  MeasureOutcome::ReadError,
                                  "FT_SetBaudRate: status 4 (I/O error)"},
                      StreamFault{"PurgeFails",
                                  k10ms,
                                  {Fails(Op::Purge, 1, kIoError)},
                                  MeasureOutcome::ReadError,
                                  "FT_Purge: status 4"},
                      StreamFault{"TriggerShort",
                                  k10ms,
                                  {FaultyDriver::ShortWrite(1, 3)},
                                  MeasureOutcome::ReadError,
                                  "FT_Write: 3 of 13 bytes written"},
                      StreamFault{"QueueStatusFailsMidCharge",
                                  k10ms,
                                  {Fails(Op::GetQueueStatus, 10, kIoError)},
                                  MeasureOutcome::ReadError,
                                  "FT_GetQueueStatus: status 4"},
                      StreamFault{"ReadFailsMidCharge",
                                  k10ms,
                                  {Fails(Op::Read, 5, kIoError)},
                                  MeasureOutcome::ReadError,
                                  "FT_Read: status 4"},
                      // 300 ms without a look: the 64 KiB driver buffer holds 65 ms.
                      StreamFault{"HostStallsPastTheBuffers",
                                  {100e3, 4.7e-6},
                                  {Stalls(Op::GetQueueStatus, 20, milliseconds(300))},
                                  MeasureOutcome::ReadError,
                                  "the sample stream paused"},
                      // A timer follows its trigger: no charge at all still
                      // holds D1 high for the pulse.
                      StreamFault{"NoCharge",
                                  {100e3, 0.0},
                                  {},
                                  MeasureOutcome::BelowRange,
                                  "the charge ended within the trigger pulse"},
                      StreamFault{"D1StuckHigh", {1e6, 1.0}, {}, MeasureOutcome::TimedOut, ""}),
    [](const ::testing::TestParamInfo<StreamFault>& info) { return info.param.name; });

// A host that stalls for less than the buffers hold only delays the samples.
TEST(MeasureByStream, AStallTheBuffersHoldCostsNoAccuracy) {
  StreamBench bench({91e3, 100e-9}, microseconds(125),
                    {Stalls(Op::GetQueueStatus, 3, milliseconds(40))});
  bench.sampleClock.rate = kDefaultSampleRate;

  const MeasureResult result = bench.Sample();

  ASSERT_EQ(result.outcome, MeasureOutcome::ChargeTime) << result.failure;
  EXPECT_NEAR(result.seconds, 1.1 * 91e3 * 100e-9, 2e-6);
  EXPECT_EQ(bench.chip.SkippedSamples(), 0U);
}

// The reader sleeps until each transfer lands rather than looking every few
// hundred microseconds: one look that finds it and one that finds the
// queue empty, a transfer. A stop is still heard within the longest sleep
// (5 ms), even while no samples come at all.
TEST(MeasureByStream, SleepsUntilEachTransferAndStillHearsAStop) {
  StreamBench bench({100e3, 4.7e-6});  // 517 ms
  bench.sampleClock.rate = kDefaultSampleRate;
  const StreamPlan plan = PlanStream(bench.link.lngHandle, bench.chip, kFamilyDefaultRate);
  const double transfers = 0.517 * kDefaultSampleRate / (plan.transferBytes / 512.0 * 510.0);

  const MeasureResult result = bench.Sample();

  ASSERT_EQ(result.outcome, MeasureOutcome::ChargeTime) << result.failure;
  EXPECT_LE(static_cast<double>(result.polls), 2.0 * transfers + 10.0);

  struct StopAt final : MeasurePolicy {
    StopAt(Clock& c, Clock::Duration when) : clock(c), at(when) {}
    bool Abandon() override { return clock.Now() >= at; }
    Clock& clock;
    Clock::Duration at;
  };
  // Hands over nothing, and sleeps for as long as it is let.
  struct Silent final : ForwardingDriver {
    Silent(DriverLibrary& inner, Clock& c) : ForwardingDriver(inner), clock(c) {}
    bool WaitForSamples(FT_HANDLE, std::chrono::nanoseconds most) override {
      clock.Wait(most);
      return true;
    }
    FT_STATUS FT_GetQueueStatus(FT_HANDLE, std::uint32_t* queued) override {
      *queued = 0;
      return kStatusOk;
    }
    Clock& clock;
  } silent(bench.chip, bench.clock);
  StopAt stop(bench.clock, bench.clock.Now() + milliseconds(3));

  const MeasureResult stopped = MeasureByStream(bench.link.lngHandle, silent, bench.display,
                                                bench.clock, bench.sampleClock, &stop);

  EXPECT_EQ(stopped.outcome, MeasureOutcome::Abandoned) << stopped.failure;
  EXPECT_LE(bench.clock.Now() - stop.at, milliseconds(5));
}

TEST(MeasureByStream, ADriverThatCannotStreamIsAReadErrorThatSaysSo) {
  struct PollOnly : ForwardingDriver {
    using ForwardingDriver::ForwardingDriver;
    SampleStream* SampleStreaming() override { return nullptr; }
  };
  StreamBench bench;
  PollOnly pollOnly(bench.chip);
  bench.sampleClock.rate = kDefaultSampleRate;

  const MeasureResult result = MeasureByStream(bench.link.lngHandle, pollOnly, bench.display,
                                               bench.clock, bench.sampleClock);

  EXPECT_EQ(result.outcome, MeasureOutcome::ReadError);
  EXPECT_EQ(result.failure, "stream timing unavailable: this driver cannot stream the pins");
}

// A chip whose clock runs well off what its family's table says (a wrongly
// told family, a faulty chip) still reads right: the transfers, the pause
// check and the trigger's deadline go by the rate the samples show.
class ClockOffTheTable : public ::testing::TestWithParam<double> {};

TEST_P(ClockOffTheTable, StillReadsTheChargeToWithinTwoSamples) {
  constexpr double kHighTime = 1.1 * 100e3 * 10e-9;  // 10 nF
  StreamBench bench({100e3, 10e-9}, microseconds(125));
  bench.chip.SetClockScale(GetParam());
  ASSERT_TRUE(bench.MeasureRate().Measured());
  EXPECT_NEAR(bench.sampleClock.rate, kDefaultSampleRate * GetParam(), 1.0);

  const MeasureResult result = bench.Sample();

  ASSERT_EQ(result.outcome, MeasureOutcome::ChargeTime) << result.failure;
  EXPECT_NEAR(result.seconds, kHighTime, 2.0 / bench.sampleClock.rate);
}

INSTANTIATE_TEST_SUITE_P(FifthToFiveTimes, ClockOffTheTable, ::testing::Values(0.2, 5.0),
                         [](const auto& info) { return info.param < 1 ? "Fifth" : "FiveTimes"; });

// The bound a stall hides behind, from the plan: a stall whose lost
// samples just pass it is caught, on every family that streams.
TEST(MeasureByStream, AStallJustBeyondWhatMayBeInFlightIsCaught) {
  for (const ChipFamily& family : ChipFamilies()) {
    if (!family.ClockTrusted()) continue;
    SCOPED_TRACE(family.Describe());
    StreamBench bench({100e3, 1e-6});  // 110 ms: long enough to stall within
    bench.chip.SetFamily(family);
    const StreamPlan plan = PlanStream(bench.link.lngHandle, bench.chip, kFamilyDefaultRate);
    const double rate = plan.rate;
    bench.sampleClock = {kFamilyDefaultRate, rate};
    // The chip's buffers hold nothing beyond its FIFO, so a host 20 ms late
    // loses what the chip could not keep; lost samples just over the bound.
    const double bound = plan.InFlight(rate) + kSampleClockSpread * rate * 0.03;
    const auto lost = static_cast<std::uint32_t>(bound * 1.05);
    bench.chip.SetStreamBuffers({family.fifoToHost, 0, family.packetSize});
    const double stallSeconds = (lost + family.fifoToHost) / rate;
    FaultyDriver stalling(bench.chip, bench.clock,
                          {Stalls(Op::GetQueueStatus, 5,
                                  duration_cast<Clock::Duration>(duration<double>(stallSeconds)))});

    const MeasureResult result = MeasureByStream(bench.link.lngHandle, stalling, bench.display,
                                                 bench.clock, bench.sampleClock);

    EXPECT_EQ(result.outcome, MeasureOutcome::ReadError);
    EXPECT_NE(result.failure.find("the sample stream paused"), std::string::npos) << result.failure;
  }
}

// Auto streams only where the driver can and the family's clock holds.
TEST(ChooseTiming, StreamsOnATrustedClockAndPollsOtherwise) {
  struct PollOnly : ForwardingDriver {
    using ForwardingDriver::ForwardingDriver;
    SampleStream* SampleStreaming() override { return nullptr; }
  };
  const struct {
    std::uint16_t bcdDevice;
    bool streams;
    Timing expected;
  } cases[] = {{0x0900, true, Timing::Stream},
               {0x1000, true, Timing::Stream},
               {0x0600, true, Timing::Poll},
               {0x0400, true, Timing::Poll},
               {0x0900, false, Timing::Poll}};
  for (const auto& c : cases) {
    StreamBench bench;
    bench.chip.SetFamily(*FamilyForBcdDevice(c.bcdDevice));
    PollOnly pollOnly(bench.chip);
    DriverLibrary& library = c.streams ? static_cast<DriverLibrary&>(bench.chip) : pollOnly;
    const TimingChoice choice = ChooseTiming(Timing::Auto, bench.link.lngHandle, library);
    EXPECT_EQ(choice.timing, c.expected) << BcdText(c.bcdDevice) << ": " << choice.why;
    EXPECT_NE(choice.why.find(c.streams ? BcdText(c.bcdDevice) : "unavailable"), std::string::npos)
        << choice.why;
    EXPECT_EQ(ChooseTiming(Timing::Poll, bench.link.lngHandle, library).timing, Timing::Poll);
  }
}

// Whole transfers, handed over as late as a busy host hands them over: the
// rate fitted at the driver's arrival times holds to 100 ppm on every run,
// and the error it states covers what it is off by.
TEST(MeasureSampleRate, HoldsTo100PpmOverABusyHostsHandOvers) {
  for (const std::uint16_t bcdDevice : {0x0900, 0x1000}) {
    for (std::uint32_t seed = 1; seed <= 20; ++seed) {
      SCOPED_TRACE(::testing::Message() << BcdText(bcdDevice) << ", seed " << seed);
      StreamBench bench({100e3, 10e-9});
      bench.chip.SetFamily(*FamilyForBcdDevice(bcdDevice));
      bench.chip.SetHostDelay(seed);
      const RateMeasurement measured = bench.MeasureRate();
      ASSERT_TRUE(measured.Measured()) << measured.failure;
      const double truth = bench.chip.SampleRate();
      EXPECT_NEAR(measured.rate, truth, 100e-6 * truth);
      EXPECT_LE(measured.relativeError, kRateTargetError);
      EXPECT_LE(std::abs(measured.rate - truth), 4.0 * measured.relativeError * truth);
    }
  }
}

// The arrivals of every streamed reading refine the series' rate.
TEST(RunSeries, EachStreamedReadingRefinesTheRate) {
  StreamBench bench({100e3, 1e-6});  // 110 ms a reading
  bench.chip.SetHostDelay(7);
  SeriesSetup setup;
  setup.count = 100;
  setup.timing = Timing::Stream;
  std::vector<double> errors;
  RunSeries(bench.faulty, bench.clock, bench.link.lngHandle, setup, {}, [&](const Reading& r) {
    EXPECT_TRUE(r.HasTime()) << r.failure;
    errors.push_back(r.sampleClock.relativeError);
    return true;
  });
  ASSERT_EQ(errors.size(), 100U);
  EXPECT_LE(errors[9], errors[0]);
  EXPECT_LT(errors[99], errors[0] / 2);
}

}  // namespace
}  // namespace capmeter
