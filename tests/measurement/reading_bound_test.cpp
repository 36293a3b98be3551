#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <string>

#include "device/device_link.h"
#include "measurement/series.h"
#include "sim/simulated_chip.h"
#include "sim/virtual_clock.h"
#include "tests/support/recording_display.h"

namespace capmeter {
namespace {

using namespace std::chrono;

struct BoundCase {
  Timing timing;
  microseconds latency;
};

class ReadingBound : public ::testing::TestWithParam<BoundCase> {};

// A rule over whole series: every reading that gives a time holds the true
// high time T = 1.1 × R × C within the bound it states, and a charge too
// short to be told from the trigger or the first look is below the range,
// never a reading.
TEST_P(ReadingBound, HoldsTheTrueTimeOrSaysBelowRange) {
  const BoundCase c = GetParam();
  constexpr double kOhms = 100e3;
  for (const double farads : {1e-12, 10e-12, 100e-12, 1e-9, 10e-9}) {
    VirtualClock clock;
    SimulatedChip chip(clock, {kOhms, farads});
    chip.SetCallLatency(c.latency);
    chip.SetHostDelay(3);
    NullDisplay display;
    DeviceLink link;
    OpenLink(link, chip, display);
    SeriesSetup setup;
    setup.count = 10;
    setup.dither = true;
    setup.timing = c.timing;
    const double truth = 1.1 * kOhms * farads;
    // Only what the trigger pulse or the first look could hide.
    const double hidden = c.timing == Timing::Stream ? 3e-6 : 4.0 * ToSeconds(c.latency);
    int ok = 0;
    RunSeries(chip, clock, link.lngHandle, setup, {}, [&](const Reading& r) {
      SCOPED_TRACE(::testing::Message() << farads << " F, reading " << r.index);
      if (r.HasTime()) {
        ++ok;
        EXPECT_GT(r.boundSeconds, 0.0);
        EXPECT_LE(std::abs(static_cast<double>(r.seconds) - truth), r.boundSeconds)
            << "t = " << r.seconds << " s";
      } else {
        EXPECT_EQ(r.outcome, MeasureOutcome::BelowRange) << r.failure;
        EXPECT_LT(truth, hidden);
      }
      return true;
    });
    if (truth >= hidden) {
      EXPECT_EQ(ok, 10) << farads << " F";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(TimingsAndRoundTrips, ReadingBound,
                         ::testing::Values(BoundCase{Timing::Poll, microseconds(125)},
                                           BoundCase{Timing::Poll, microseconds(1000)},
                                           BoundCase{Timing::Stream, microseconds(125)},
                                           BoundCase{Timing::Stream, microseconds(1000)}),
                         [](const auto& info) {
                           return std::string(TimingName(info.param.timing)) +
                                  std::to_string(info.param.latency.count()) + "us";
                         });

}  // namespace
}  // namespace capmeter
