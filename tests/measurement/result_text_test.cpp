#include "measurement/result_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace capmeter {
namespace {

template <typename Number>
struct TextCase {
  Number value;
  std::string separator;
  std::string expected;
};

template <typename Number>
void PrintTo(const TextCase<Number>& c, std::ostream* os) {
  *os << c.value << " with \"" << c.separator << '"';
}

using TimeCase = TextCase<float>;
using CapacitanceCase = TextCase<double>;

class GeneralTextOf : public ::testing::TestWithParam<TimeCase> {};

TEST_P(GeneralTextOf, Time) {
  const TimeCase& c = GetParam();
  EXPECT_EQ(GeneralText(c.value, c.separator), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Ordinary, GeneralTextOf,
    ::testing::Values(TimeCase{0.5F, ".", "0.5"}, TimeCase{0.5F, ",", "0,5"},
                      TimeCase{0.25F, ".", "0.25"}, TimeCase{2.5e-3F, ".", "0.0025"},
                      TimeCase{0.1F, ".", "0.1"}, TimeCase{1.0F / 3.0F, ",", "0,3333333"},
                      TimeCase{123.456789F, ".", "123.4568"}, TimeCase{86399.99F, ",", "86399,99"},
                      TimeCase{0.5F, "\xc2\xb7",
                               "0\xc2\xb7"
                               "5"}));

INSTANTIATE_TEST_SUITE_P(
    WholeAndNegative, GeneralTextOf,
    ::testing::Values(TimeCase{0.0F, ".", "0"}, TimeCase{-0.0F, ",", "0"}, TimeCase{1.0F, ",", "1"},
                      TimeCase{12.0F, ".", "12"}, TimeCase{1234567.0F, ",", "1234567"},
                      TimeCase{-3.0F, ",", "-3"}, TimeCase{-0.25F, ".", "-0.25"},
                      TimeCase{-0.25F, ",", "-0,25"}, TimeCase{-86399.5F, ".", "-86399.5"}));

INSTANTIATE_TEST_SUITE_P(
    ExponentForm, GeneralTextOf,
    ::testing::Values(TimeCase{1e-4F, ".", "0.0001"},  // last one written out
                      TimeCase{1e-5F, ".", "1E-05"}, TimeCase{1.5e-5F, ",", "1,5E-05"},
                      TimeCase{-2.5e-6F, ".", "-2.5E-06"}, TimeCase{1e7F, ",", "1E+07"},
                      TimeCase{12345678.0F, ".", "1.234568E+07"},
                      TimeCase{12345678.0F, ",", "1,234568E+07"},
                      TimeCase{std::numeric_limits<float>::max(), ".", "3.402823E+38"},
                      TimeCase{std::numeric_limits<float>::denorm_min(), ",", "1,401298E-45"}));

// Both are exact floats halfway between two seven-digit texts.
INSTANTIATE_TEST_SUITE_P(TiesToEven, GeneralTextOf,
                         ::testing::Values(TimeCase{10000005.0F, ".", "1E+07"},
                                           TimeCase{10000015.0F, ".", "1.000002E+07"}));

class PatternTextOf : public ::testing::TestWithParam<CapacitanceCase> {};

TEST_P(PatternTextOf, Capacitance) {
  const CapacitanceCase& c = GetParam();
  EXPECT_EQ(PatternText(c.value, c.separator), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, PatternTextOf,
    ::testing::Values(CapacitanceCase{12.3456789, ".", "12.345679"},
                      CapacitanceCase{12.3456789, ",", "12,345679"},
                      CapacitanceCase{0.25, ".", ".25"}, CapacitanceCase{0.25, ",", ",25"},
                      CapacitanceCase{100.0, ".", "100."}, CapacitanceCase{100.0, ",", "100,"},
                      CapacitanceCase{1234.5, ".", "1234.5"},
                      CapacitanceCase{1234.5, ",", "1234,5"}, CapacitanceCase{0.0, ".", "."},
                      CapacitanceCase{0.0, ",", ","}, CapacitanceCase{1.25, ".", "1.25"},
                      CapacitanceCase{5.0, ".", "5."},
                      CapacitanceCase{123456789012.5, ".", "123456789012.5"},
                      CapacitanceCase{1e15, ",", "1000000000000000,"},
                      CapacitanceCase{0.25, "\xc2\xb7",
                                      "\xc2\xb7"
                                      "25"}));

INSTANTIATE_TEST_SUITE_P(Rounding, PatternTextOf,
                         ::testing::Values(CapacitanceCase{0.0000006, ".", ".000001"},
                                           CapacitanceCase{0.1234564, ".", ".123456"},
                                           CapacitanceCase{0.9999996, ".", "1."},
                                           CapacitanceCase{99.9999996, ",", "100,"},
                                           // 2^-7 and 3 * 2^-7 are exact ties at the sixth decimal.
                                           CapacitanceCase{0.0078125, ".", ".007812"},
                                           CapacitanceCase{0.0234375, ".", ".023438"}));

INSTANTIATE_TEST_SUITE_P(Negative, PatternTextOf,
                         ::testing::Values(CapacitanceCase{-1.25, ".", "-1.25"},
                                           CapacitanceCase{-1.25, ",", "-1,25"},
                                           CapacitanceCase{-0.25, ".", "-.25"},
                                           CapacitanceCase{-100.0, ",", "-100,"},
                                           CapacitanceCase{-0.0000006, ".", "-.000001"},
                                           CapacitanceCase{-0.9999996, ",", "-1,"}));

INSTANTIATE_TEST_SUITE_P(RoundsToZeroWithoutSign, PatternTextOf,
                         ::testing::Values(CapacitanceCase{-0.0, ".", "."},
                                           CapacitanceCase{-0.0000004, ".", "."},
                                           CapacitanceCase{-0.0000004, ",", ","},
                                           CapacitanceCase{0.0000004, ",", ","},
                                           CapacitanceCase{-1e-300, ".", "."}));

INSTANTIATE_TEST_SUITE_P(
    NotFinite, PatternTextOf,
    ::testing::Values(CapacitanceCase{std::numeric_limits<double>::infinity(), ".", "inf"},
                      CapacitanceCase{-std::numeric_limits<double>::infinity(), ",", "-inf"},
                      CapacitanceCase{std::numeric_limits<double>::quiet_NaN(), ".", "nan"},
                      CapacitanceCase{-std::numeric_limits<double>::quiet_NaN(), ",", "nan"}));

TEST(PatternText, ShowsEveryIntegerDigitOfHugeValues) {
  for (const double value : {1e300, -1e300, std::numeric_limits<double>::max()}) {
    const std::string text = PatternText(value, ",");
    const std::size_t digits =
        static_cast<std::size_t>(std::floor(std::log10(std::fabs(value)))) + 1;
    const std::size_t sign = value < 0 ? 1 : 0;
    ASSERT_EQ(text.size(), sign + digits + 1) << text;
    EXPECT_EQ(text.back(), ',');
    EXPECT_EQ(text.find_first_not_of("0123456789", sign), sign + digits);
  }
}

}  // namespace
}  // namespace capmeter
