// Chart axes with ticks at round values around the data.

#include "monitor/axis_scale.h"

#include <gtest/gtest.h>

namespace capmeter {
namespace {

TEST(AxisScale, RoundStepsAndEndsAroundTheData) {
  struct Case {
    double low, high;
    int ticks;
    AxisScale expected;
    int expectedTicks;
    int decimals;
  };
  const Case cases[] = {
      {4.689, 4.749, 5, {4.68, 4.76, 0.02}, 5, 2},
      {-4.749, -4.689, 5, {-4.76, -4.68, 0.02}, 5, 2},
      // Equal values get a little room either side.
      {4.7, 4.7, 6, {4.699994, 4.700006, 2e-6}, 7, 6},
      {0.0, 0.0, 6, {-1e-12, 1e-12, 5e-13}, 5, 13},
      {1.23e-9, 1.27e-9, 5, {1.23e-9, 1.27e-9, 1e-11}, 5, 11},
      {3.1e12, 8.9e12, 6, {2e12, 1e13, 2e12}, 5, 0},
      // A span across a power of ten.
      {8.5, 12.5, 5, {8.0, 13.0, 1.0}, 6, 0},
      {0.0, 517.0, 6, {0.0, 600.0, 200.0}, 4, 0},
      // Data that ends on a mark keeps it, though 0.3 / 0.1 is just under 3.
      {0.3, 0.6, 4, {0.3, 0.6, 0.1}, 4, 1},
  };
  for (const Case& c : cases) {
    const AxisScale scale = RoundScale(c.low, c.high, c.ticks);
    SCOPED_TRACE(testing::Message() << c.low << " to " << c.high);
    const double near = c.expected.step * 1e-6;
    EXPECT_NEAR(scale.step, c.expected.step, near);
    EXPECT_NEAR(scale.low, c.expected.low, near);
    EXPECT_NEAR(scale.high, c.expected.high, near);
    EXPECT_EQ(scale.Ticks(), c.expectedTicks);
    EXPECT_EQ(scale.Decimals(), c.decimals);
  }
}

}  // namespace
}  // namespace capmeter
