#include "measurement/float_chars.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <string>
#include <string_view>

namespace capmeter {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kUntouched = 42.0;  // what an out-of-range read must leave alone

// The standard library's results, which fast_float, where it reads, must give
// too.
struct ReadCase {
  std::string text;
  std::errc error;
  std::size_t length;  // characters read
  double value;        // kUntouched unless the read succeeds
};

void PrintTo(const ReadCase& c, std::ostream* os) {
  *os << '"' << (c.text.size() > 60 ? c.text.substr(0, 60) + "..." : c.text) << '"';
}

class DoubleFromCharsReads : public ::testing::TestWithParam<ReadCase> {};

TEST_P(DoubleFromCharsReads, LikeTheStandardLibrary) {
  const ReadCase& c = GetParam();
  double value = kUntouched;
  const char* first = c.text.data();
  const auto result = DoubleFromChars(first, first + c.text.size(), value);
  EXPECT_EQ(result.ec, c.error);
  EXPECT_EQ(static_cast<std::size_t>(result.ptr - first), c.length);
  if (std::isnan(c.value)) {
    EXPECT_TRUE(std::isnan(value));
  } else {
    EXPECT_EQ(value, c.value);
  }
  EXPECT_EQ(std::signbit(value), std::signbit(c.value));
}

INSTANTIATE_TEST_SUITE_P(
    Decimal, DoubleFromCharsReads,
    ::testing::Values(ReadCase{"1.5", {}, 3, 1.5}, ReadCase{"-0", {}, 2, -0.0},
                      ReadCase{".5", {}, 2, 0.5}, ReadCase{"5.", {}, 2, 5.0},
                      ReadCase{"0.1", {}, 3, 0.1}, ReadCase{"007", {}, 3, 7.0},
                      ReadCase{"2.5E-3x", {}, 6, 2.5e-3}, ReadCase{"1e+5x", {}, 4, 1e5},
                      ReadCase{"1e", {}, 1, 1.0}, ReadCase{"1e+", {}, 1, 1.0},
                      ReadCase{"1e-x", {}, 1, 1.0}, ReadCase{"1.2.3", {}, 3, 1.2},
                      ReadCase{"1,5", {}, 1, 1.0}, ReadCase{"0x10", {}, 1, 0.0},
                      ReadCase{"0e99999999999999999999", {}, 22, 0.0},
                      // Halfway between two doubles: to even.
                      ReadCase{"9007199254740993", {}, 16, 9007199254740992.0},
                      ReadCase{"9007199254740995", {}, 16, 9007199254740996.0}));

INSTANTIATE_TEST_SUITE_P(
    NotANumber, DoubleFromCharsReads,
    ::testing::Values(ReadCase{"", std::errc::invalid_argument, 0, kUntouched},
                      ReadCase{"+1", std::errc::invalid_argument, 0, kUntouched},
                      ReadCase{" 1", std::errc::invalid_argument, 0, kUntouched},
                      ReadCase{"-", std::errc::invalid_argument, 0, kUntouched},
                      ReadCase{".", std::errc::invalid_argument, 0, kUntouched},
                      ReadCase{"-.e1", std::errc::invalid_argument, 0, kUntouched},
                      ReadCase{"e5", std::errc::invalid_argument, 0, kUntouched},
                      ReadCase{"in", std::errc::invalid_argument, 0, kUntouched}));

INSTANTIATE_TEST_SUITE_P(
    InfinityAndNaN, DoubleFromCharsReads,
    ::testing::Values(ReadCase{"inf", {}, 3, kInf}, ReadCase{"-INF", {}, 4, -kInf},
                      ReadCase{"Infinity!", {}, 8, kInf}, ReadCase{"infin", {}, 3, kInf},
                      ReadCase{"nan", {}, 3, std::nan("")}, ReadCase{"-NaN", {}, 4, -std::nan("")},
                      ReadCase{"nan(abc_1)x", {}, 10, std::nan("")},
                      ReadCase{"nan(", {}, 3, std::nan("")},
                      ReadCase{"nan(a b)", {}, 3, std::nan("")}));

INSTANTIATE_TEST_SUITE_P(
    EdgesOfTheRange, DoubleFromCharsReads,
    ::testing::Values(
        ReadCase{"1.7976931348623157e308", {}, 22, 1.7976931348623157e308},
        // Still rounds down to the largest double, and just past that point.
        ReadCase{"1.7976931348623158e308", {}, 22, 1.7976931348623157e308},
        ReadCase{"1.7976931348623159e308", std::errc::result_out_of_range, 22, kUntouched},
        ReadCase{"-1e309", std::errc::result_out_of_range, 6, kUntouched},
        ReadCase{"1e99999999999999999999", std::errc::result_out_of_range, 22, kUntouched},
        // Subnormals are values, not underflows.
        ReadCase{"4e-320", {}, 6, 4e-320},
        ReadCase{"2.4703282292062328e-324", {}, 23, 4.9406564584124654e-324},
        // Below half the smallest subnormal the value would be zero.
        ReadCase{"2.4703282292062327e-324", std::errc::result_out_of_range, 23, kUntouched},
        ReadCase{"-1e-400", std::errc::result_out_of_range, 7, kUntouched}));

std::string Repeat(char c, std::size_t count) {
  return std::string(count, c);
}

TEST(DoubleFromCharsLongTexts, EveryDigitCountsAndTheExponentStaysExact) {
  const std::string midpoint = "9007199254740993";
  const std::string zeros = Repeat('0', 2000);
  struct Long {
    std::string text;
    double value;
  };
  const Long cases[] = {
      {midpoint + "." + zeros, 9007199254740992.0},
      // A single non-zero digit two thousand places on tips it upwards.
      {midpoint + "." + zeros + "1", 9007199254740994.0},
      {midpoint + zeros + "1e-2001", 9007199254740994.0},
      {"1" + zeros + "e-2000", 1.0},
      // More leading zeros than any exponent cap would hold.
      {"0." + Repeat('0', 300'000) + "25e300001", 2.5},
      {"0." + Repeat('9', 5000), 1.0},
  };
  for (const Long& c : cases) {
    double value = kUntouched;
    const auto result = DoubleFromChars(c.text.data(), c.text.data() + c.text.size(), value);
    EXPECT_EQ(result.ec, std::errc()) << c.text.substr(0, 40);
    EXPECT_EQ(result.ptr, c.text.data() + c.text.size());
    EXPECT_EQ(value, c.value) << c.text.substr(0, 40);
  }
}

// A locale whose decimal point is a comma, as a desktop may set it (Qt calls
// setlocale at start); empty when the machine has none.
std::string CommaLocale() {
  for (const char* name :
       {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8", "ru_RU.UTF-8", "nl_NL.UTF-8"}) {
    if (std::setlocale(LC_ALL, name) != nullptr && std::localeconv()->decimal_point[0] == ',') {
      return name;
    }
  }
  std::setlocale(LC_ALL, "C");
  return {};
}

TEST(DoubleFromChars, IgnoresTheCLocale) {
  const std::string locale = CommaLocale();
  if (locale.empty()) GTEST_SKIP() << "no locale with a decimal comma on this machine";
  const std::string_view text = "2.5e-1";
  double value = 0.0;
  const auto result = DoubleFromChars(text.data(), text.data() + text.size(), value);
  std::setlocale(LC_ALL, "C");
  EXPECT_EQ(result.ptr, text.data() + text.size()) << "in " << locale;
  EXPECT_EQ(value, 0.25) << "in " << locale;
}

}  // namespace
}  // namespace capmeter
