#include "measurement/line_fit.h"

#include <gtest/gtest.h>

#include <vector>

namespace capmeter {
namespace {

TEST(FitLine, ThreePointsOnALineGiveItExactlyWithZeroResiduals) {
  const std::vector<FitPoint> points = {{1, 3}, {2, 5}, {4, 9}};
  const LineFit fit = FitLine(points);
  ASSERT_EQ(fit.problem, FitProblem::None);
  EXPECT_NEAR(fit.line.slope, 2.0, 1e-12);
  EXPECT_NEAR(fit.line.intercept, 1.0, 1e-12);
  for (const FitPoint& p : points) EXPECT_NEAR(fit.line.Residual(p), 0.0, 1e-12);
}

TEST(FitLine, ThreeScatteredPointsGiveTheLeastSquaresLine) {
  // By hand: mean x 1, mean y 2/3, Sxx 2, Sxy 1, so m = 1/2 and b = 1/6;
  // the residuals -1/6, 1/3, -1/6 sum to zero.
  const std::vector<FitPoint> points = {{0, 0}, {1, 1}, {2, 1}};
  const LineFit fit = FitLine(points);
  ASSERT_EQ(fit.problem, FitProblem::None);
  EXPECT_NEAR(fit.line.slope, 0.5, 1e-12);
  EXPECT_NEAR(fit.line.intercept, 1.0 / 6.0, 1e-12);
  EXPECT_NEAR(fit.line.Residual(points[0]), -1.0 / 6.0, 1e-12);
  EXPECT_NEAR(fit.line.Residual(points[1]), 1.0 / 3.0, 1e-12);
  EXPECT_NEAR(fit.line.Residual(points[2]), -1.0 / 6.0, 1e-12);
}

TEST(FitLine, TwoCapacitorsReadOnceEachGiveTheTwoPointRecipe) {
  // 1 uF charging for 11.2 ms and 10 uF for 110.2 ms: m = 9 / 0.099 and
  // b = 1 - m x 0.0112.
  const std::vector<FitPoint> points = {{0.0112, 1}, {0.1102, 10}};
  const LineFit fit = FitLine(points);
  ASSERT_EQ(fit.problem, FitProblem::None);
  const double m = 9.0 / 0.099;
  EXPECT_NEAR(fit.line.slope, m, 1e-12 * m);
  EXPECT_NEAR(fit.line.intercept, 1.0 - m * 0.0112, 1e-12);
}

TEST(FitLine, TheReadingsOwnSpreadTakesPartInTheFit) {
  // Three readings of each, 0.1 ms apart around the same means. By hand:
  // Sxy = 6 x 0.0495 x 4.5, Sxx = 6 x 0.0495^2 plus 4 x (0.1 ms)^2 from the
  // readings' spread, so the slope is a little below the two-point recipe's;
  // the line still runs through the mean point (60.7 ms, 5.5 uF).
  const std::vector<FitPoint> points = {{0.0111, 1},  {0.0113, 1},  {0.0112, 1},
                                        {0.1101, 10}, {0.1103, 10}, {0.1102, 10}};
  const LineFit fit = FitLine(points);
  ASSERT_EQ(fit.problem, FitProblem::None);
  const double m = (6 * 0.0495 * 4.5) / (6 * 0.0495 * 0.0495 + 4 * 1e-8);
  EXPECT_NEAR(fit.line.slope, m, 1e-9 * m);
  EXPECT_LT(fit.line.slope, 9.0 / 0.099);
  EXPECT_NEAR(fit.line.intercept, 5.5 - m * 0.0607, 1e-9);
}

struct BadCase {
  const char* name;
  std::vector<FitPoint> points;
  FitProblem problem;
};

class FitLineRefuses : public ::testing::TestWithParam<BadCase> {};

TEST_P(FitLineRefuses, WhatPinsDownNoLine) {
  EXPECT_EQ(FitLine(GetParam().points).problem, GetParam().problem);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FitLineRefuses,
    ::testing::Values(
        BadCase{"NoPoints", {}, FitProblem::TooFewLevels},
        BadCase{"OnePoint", {{0.11, 10}}, FitProblem::TooFewLevels},
        BadCase{"OneCapacitorManyTimes", {{0.11, 10}, {0.12, 10}}, FitProblem::TooFewLevels},
        // 1u and 1000n, made microfarads, differ in the last bit only.
        BadCase{"TheSameCapacitorWrittenTwoWays",
                {{0.011, 1e-6 * 1e6}, {0.012, 1000e-9 * 1e6}},
                FitProblem::TooFewLevels},
        BadCase{"SameTimeForEveryCapacitor", {{0.11, 1}, {0.11, 10}}, FitProblem::NoSpread},
        BadCase{"ZeroTimes", {{0, 1}, {0, 10}, {0, 100}}, FitProblem::NoSpread},
        BadCase{"TimesApartByRoundingOnly",
                {{0.11, 1}, {0.11 * (1 + 1e-15), 10}},
                FitProblem::NoSpread}),
    [](const auto& info) { return info.param.name; });

TEST(SameLevel, TellsRoundingFromARealDifference) {
  EXPECT_TRUE(SameLevel(1.0, 1000e-9 * 1e6));
  EXPECT_TRUE(SameLevel(0.0, 0.0));
  EXPECT_FALSE(SameLevel(1.0, 1.001));
  EXPECT_FALSE(SameLevel(0.0, 1e-12));
}

}  // namespace
}  // namespace capmeter
