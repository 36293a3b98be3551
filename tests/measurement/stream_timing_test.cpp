#include "measurement/stream_timing.h"

#include <gtest/gtest.h>

#include "device/device_link.h"
#include "sim/simulated_chip.h"
#include "sim/virtual_clock.h"
#include "tests/support/faulty_driver.h"
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
  EXPECT_NEAR(result.seconds, c.highTimeSeconds, 2.0 / kDefaultSampleRate + 1e-7 * c.highTimeSeconds);
  EXPECT_TRUE(bench.chip.InBitBangMode());
}

INSTANTIATE_TEST_SUITE_P(ChargesAndRoundTrips, StreamedChargeTime,
                         ::testing::Values(StreamCase{0.11e-3, microseconds(0)},
                                           StreamCase{1.1e-3, microseconds(125)},
                                           StreamCase{10e-3, microseconds(1000)},
                                           StreamCase{0.517, microseconds(1000)},
                                           StreamCase{0.517, microseconds(0)}));

}  // namespace
}  // namespace capmeter
