#include "measurement/si_value.h"

#include <gtest/gtest.h>

#include <optional>

namespace capmeter {
namespace {

struct ValueCase {
  const char* text;
  const char* unit;
  std::optional<double> value;
};

void PrintTo(const ValueCase& c, std::ostream* os) {
  *os << '"' << c.text << "\" in " << c.unit;
}

class EngineeringValue : public ::testing::TestWithParam<ValueCase> {};

TEST_P(EngineeringValue, ReadsPrefixesAndUnits) {
  const auto [text, unit, expected] = GetParam();
  const auto value = ParseEngineeringValue(text, unit);
  ASSERT_EQ(value.has_value(), expected.has_value()) << text;
  if (expected) {
    EXPECT_DOUBLE_EQ(*value, *expected) << text;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, EngineeringValue,
    ::testing::Values(ValueCase{"4.7u", "F", 4.7e-6}, ValueCase{"4.7uF", "F", 4.7e-6},
                      ValueCase{"4.7\xC2\xB5", "F", 4.7e-6}, ValueCase{"10 nF", "F", 10e-9},
                      ValueCase{"2.2e-6", "F", 2.2e-6}, ValueCase{"100k", "ohm", 100e3},
                      ValueCase{"1kohm", "ohm", 1e3}, ValueCase{"1M\xCE\xA9", "ohm", 1e6},
                      ValueCase{"470", "ohm", 470.0}, ValueCase{"3p", "F", 3e-12},
                      ValueCase{"0", "F", std::nullopt}, ValueCase{"-1u", "F", std::nullopt},
                      ValueCase{"", "F", std::nullopt}, ValueCase{"u", "F", std::nullopt},
                      ValueCase{"4.7x", "F", std::nullopt}, ValueCase{"4.7uohm", "F", std::nullopt},
                      ValueCase{"1e308G", "ohm", std::nullopt}, ValueCase{"nan", "F", std::nullopt},
                      ValueCase{"inf", "F", std::nullopt}, ValueCase{"1kk", "ohm", std::nullopt}));

// "K" is kilo as resistor markings write it, while "M" and "m" stay apart.
INSTANTIATE_TEST_SUITE_P(
    CapitalKilo, EngineeringValue,
    ::testing::Values(ValueCase{"100K", "ohm", 100e3}, ValueCase{"4.7KOhm", "ohm", 4.7e3},
                      ValueCase{"2.2K\xCE\xA9", "ohm", 2.2e3}, ValueCase{"1K", "F", 1e3},
                      ValueCase{"1Mohm", "ohm", 1e6}, ValueCase{"1mohm", "ohm", 1e-3},
                      ValueCase{"1KK", "ohm", std::nullopt},
                      ValueCase{"1Kk", "ohm", std::nullopt}));

// A rate in S/s or in Hz, as SCPI writes it.
INSTANTIATE_TEST_SUITE_P(Rates, EngineeringValue,
                         ::testing::Values(ValueCase{"500kS/s", "S/s", 500e3},
                                           ValueCase{"500kHz", "S/s", 500e3},
                                           ValueCase{"500KHZ", "S/s", 500e3},
                                           ValueCase{"500kHz", "F", std::nullopt}));

INSTANTIATE_TEST_SUITE_P(
    LeadingPlus, EngineeringValue,
    ::testing::Values(ValueCase{"+4.7u", "F", 4.7e-6}, ValueCase{" +100k", "ohm", 100e3},
                      ValueCase{"+.5", "F", 0.5}, ValueCase{"+", "F", std::nullopt},
                      ValueCase{"++1", "F", std::nullopt}, ValueCase{"+-1", "F", std::nullopt},
                      ValueCase{"-+1", "F", std::nullopt}, ValueCase{"+ 1", "F", std::nullopt},
                      ValueCase{"+0", "F", std::nullopt}));

TEST(Number, OnlyACompleteNumberReads) {
  const struct {
    const char* text;
    std::optional<double> value;
  } kCases[] = {
      {"9.0909", 9.0909}, {"-2.5e-1", -0.25}, {"+.5E+1", 5.0}, {" 7 ", 7.0}, {"0", 0.0},
      {"9,0909", {}},     {"abc", {}},        {"1e", {}},      {"0x10", {}}, {"inf", {}},
      {"nan", {}},        {"+-1", {}},        {"", {}},        {"4.7u", {}}, {"1e400", {}},
      {"&H10", {}},       {"1 2", {}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ParseNumber(c.text), c.value);
    // A refusal always says why; a number never has a problem.
    EXPECT_EQ(NumberProblem(c.text).empty(), c.value.has_value());
  }
}

// The slips a user makes, named in the words a message gives them.
TEST(Number, ProblemsSayWhatIsWrong) {
  EXPECT_EQ(NumberProblem("9,0909"), "',0909' after the number; '.' is the decimal point");
  EXPECT_EQ(EngineeringValueProblem("10NF", "F"),
            "'N' is no SI prefix; prefixes keep their case, n is nano");
  EXPECT_EQ(EngineeringValueProblem("10xF", "F"),
            "'xF' after the number, which is neither an SI prefix (p n u m k M G) nor the unit F");
  EXPECT_EQ(EngineeringValueProblem("-1u", "F"), "not above 0");
}

}  // namespace
}  // namespace capmeter
