#include "measurement/statistics.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace capmeter {
namespace {

struct StatisticsCase {
  const char* name;
  std::vector<double> values;
  Statistics expected;
};

class DescribeTest : public ::testing::TestWithParam<StatisticsCase> {};

TEST_P(DescribeTest, GivesCountMeanSpreadAndOrderStatistics) {
  const Statistics s = Describe(GetParam().values);
  const Statistics& e = GetParam().expected;
  EXPECT_EQ(s.count, e.count);
  EXPECT_DOUBLE_EQ(s.mean, e.mean);
  ASSERT_EQ(s.standardDeviation.has_value(), e.standardDeviation.has_value());
  if (e.standardDeviation) {
    EXPECT_NEAR(*s.standardDeviation, *e.standardDeviation, 1e-12 * (1 + *e.standardDeviation));
  }
  EXPECT_EQ(s.minimum, e.minimum);
  EXPECT_EQ(s.median, e.median);
  EXPECT_EQ(s.maximum, e.maximum);
}

INSTANTIATE_TEST_SUITE_P(
    Sets, DescribeTest,
    ::testing::Values(
        StatisticsCase{"Empty", {}, {0, 0.0, std::nullopt, 0.0, 0.0, 0.0}},
        // One value has no spread to speak of.
        StatisticsCase{"One", {0.517}, {1, 0.517, std::nullopt, 0.517, 0.517, 0.517}},
        // The sample deviation divides by n - 1: sqrt(32 / 7).
        StatisticsCase{
            "EvenCount", {9, 2, 5, 4, 4, 7, 4, 5}, {8, 5.0, std::sqrt(32.0 / 7.0), 2.0, 4.5, 9.0}},
        StatisticsCase{
            "OddCountUnsorted", {3, -1, 2}, {3, 4.0 / 3.0, std::sqrt(13.0 / 3.0), -1, 2, 3}},
        // Far from zero with a small spread: squaring the values themselves
        // would lose the spread to rounding.
        StatisticsCase{"LargeOffsetSmallSpread",
                       {1e9 + 1, 1e9 + 2, 1e9 + 3},
                       {3, 1e9 + 2, 1.0, 1e9 + 1, 1e9 + 2, 1e9 + 3}},
        StatisticsCase{"AllEqual", {0.25, 0.25, 0.25, 0.25}, {4, 0.25, 0.0, 0.25, 0.25, 0.25}}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace capmeter
