// What Start makes of the window's settings.

#include "monitor/start_setup.h"

#include <gtest/gtest.h>

#include <chrono>
#include <limits>

namespace capmeter {
namespace {

constexpr int kMost = std::numeric_limits<int>::max();

TEST(StartSetup, ReadingsDitherIntervalCalibrationAndTiming) {
  using std::chrono::milliseconds;
  struct Case {
    StartForm form;
    int readings;
    bool dither;
    milliseconds interval;
    Line calibration;
  };
  const Case cases[] = {
      {{1, 0.0, 1, "9.0909", "0.1"}, 1, false, milliseconds(0), {9.0909, 0.1}},
      // A point of several readings is dithered even when it is the only one.
      {{1, 0.25, 3, "9.0909", "0"}, 3, true, milliseconds(250), {9.0909, 0.0}},
      // Count 0 runs until stopped.
      {{0, 1.5, 4, "0", "0"}, kMost, true, milliseconds(1500), {0.0, 0.0}},
      // Count x average beyond int stops at its largest, not at a wrapped count.
      {{kMost / 2 + 1, 0.0, 2, "0", "0"}, kMost, true, milliseconds(0), {0.0, 0.0}},
      // Without a slope there is no capacitance, so b does not count.
      {{5, 0.0, 1, "0", "1.5"}, 5, true, milliseconds(0), {0.0, 0.0}},
      // Streamed readings are never dithered; their rate is measured first.
      {{3, 0.0, 2, "9.0909", "0", Timing::Stream, 500e3}, 6, false, milliseconds(0), {9.0909, 0.0}},
  };
  for (const Case& c : cases) {
    const StartSetup setup = SetupFor(c.form);
    SCOPED_TRACE(c.form.count);
    EXPECT_EQ(setup.series.count, c.readings);
    EXPECT_EQ(setup.series.dither, c.dither);
    EXPECT_EQ(setup.series.interval, c.interval);
    EXPECT_EQ(setup.series.calibration.slope, c.calibration.slope);
    EXPECT_EQ(setup.series.calibration.intercept, c.calibration.intercept);
    EXPECT_EQ(setup.readingsPerPoint, c.form.average);
    EXPECT_EQ(setup.series.timing, c.form.timing);
    EXPECT_EQ(setup.series.sampleClock.requestedRate, c.form.sampleRate);
    EXPECT_EQ(setup.series.sampleClock.rate, 0.0);
    EXPECT_EQ(setup.refusal, "");
  }
}

// Read as the window reads its boxes, "9,0909" would calibrate with 9.
TEST(StartSetup, MOrBThatIsNoNumberRefusesTheSeriesQuotingIt) {
  EXPECT_EQ(SetupFor({1, 0.0, 1, "9,0909", "0"}).refusal,
            "Not started: m '9,0909' is not a number such as 9.0909: ',0909' after the number; "
            "'.' is the decimal point.");
  EXPECT_NE(SetupFor({1, 0.0, 1, "9.0909", "x"}).refusal.find("b 'x'"), std::string::npos);
}

}  // namespace
}  // namespace capmeter
