#include "measurement/dither.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "device/device_link.h"
#include "sim/simulated_chip.h"
#include "sim/virtual_clock.h"
#include "tests/support/event_log.h"
#include "tests/support/recording_display.h"

namespace capmeter {
namespace {

using namespace std::chrono;
using namespace testing;

TEST(DitherSequence, SpreadsAnyRunEvenlyOverOnePeriod) {
  const Clock::Duration period = milliseconds(1);
  for (const std::uint64_t seed : {1U, 2U, 3U}) {
    SCOPED_TRACE(seed);
    DitherSequence sequence(period, seed);
    std::vector<double> fractions;
    for (int i = 0; i < 100; ++i) {
      const Clock::Duration wait = sequence.Next();
      ASSERT_GE(wait, Clock::Duration::zero());
      ASSERT_LT(wait, period);
      fractions.push_back(ToSeconds(wait) / ToSeconds(period));
    }
    std::sort(fractions.begin(), fractions.end());
    double widestGap = fractions.front() + (1.0 - fractions.back());  // around the end
    for (std::size_t i = 1; i < fractions.size(); ++i) {
      widestGap = std::max(widestGap, fractions[i] - fractions[i - 1]);
    }
    // Independent random waits would leave gaps of several hundredths.
    EXPECT_LT(widestGap, 0.02);
  }
}

TEST(DitherSequence, IsReproducibleFromItsSeedAndDiffersBetweenSeeds) {
  DitherSequence a(milliseconds(1), 7);
  DitherSequence b(milliseconds(1), 7);
  DitherSequence c(milliseconds(1), 8);
  const Clock::Duration first = a.Next();
  EXPECT_EQ(first, b.Next());
  EXPECT_NE(first, c.Next());
  EXPECT_NE(a.Next(), first);  // and it moves on
}

TEST(DitherSequence, AZeroPeriodNeverWaits) {
  DitherSequence sequence(Clock::Duration::zero(), 5);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(sequence.Next(), Clock::Duration::zero());
}

// The simulated circuit behind an opened link, on virtual time.
struct Bench {
  Bench(double highTimeSeconds, Clock::Duration latency)
      : chip(clock, {100e3, highTimeSeconds / (1.1 * 100e3)}) {
    chip.SetCallLatency(latency);
    OpenLink(link, chip, display);
  }
  // The mean time of `count` readings, each with the policy's delays.
  double MeanSeconds(int count, MeasurePolicy* policy) {
    double sum = 0.0;
    for (int i = 0; i < count; ++i) {
      const MeasureResult result = Measure(link.lngHandle, chip, display, clock, policy);
      EXPECT_EQ(result.outcome, MeasureOutcome::ChargeTime);
      sum += result.seconds;
    }
    return sum / count;
  }

  VirtualClock clock;
  SimulatedChip chip;
  EventLog log;
  RecordingDisplay display{log};
  DeviceLink link;
};

TEST(MeasurePollPeriod, IsTheTimeOfOneReadOfThePins) {
  Bench bench(0.1, std::chrono::microseconds(1250));
  EXPECT_EQ(MeasurePollPeriod(bench.link.lngHandle, bench.chip, bench.clock),
            std::chrono::microseconds(1250));
  EXPECT_EQ(MeasurePollPeriod(bench.link.lngHandle, bench.chip, bench.clock, 0),
            Clock::Duration::zero());
}

// Charge times that end just after or just before a poll (T = n + f round
// trips with f near 0 or 1), where a steady grid puts every reading almost a
// whole round trip or almost nothing below T.
class DitheredMean : public ::testing::TestWithParam<double> {};

TEST_P(DitheredMean, OfAHundredReadingsLandsHalfAPollBelowTheChargeTime) {
  const Clock::Duration latency = milliseconds(1);
  const double L = ToSeconds(latency);
  const double T = GetParam();
  const double goal = T - L / 2;

  Bench plain(T, latency);
  const double undithered = plain.MeanSeconds(100, nullptr);
  ASSERT_GT(std::fabs(undithered - goal), 0.3 * L) << "the grid alone should miss";

  for (const std::uint64_t seed : {11U, 12U, 13U}) {
    SCOPED_TRACE(seed);
    Bench bench(T, latency);
    const Clock::Duration period = MeasurePollPeriod(bench.link.lngHandle, bench.chip, bench.clock);
    DitherPolicy dither(DitherSequence(period, seed));
    EXPECT_NEAR(bench.MeanSeconds(100, &dither), goal, 0.05 * L);
  }
}

INSTANTIATE_TEST_SUITE_P(ChargeTimes, DitheredMean,
                         ::testing::Values(0.01005, 0.0101, 0.10095, 0.5179, 0.517005));

}  // namespace
}  // namespace capmeter
