#include "ui/sim_options.h"

#include <gtest/gtest.h>

namespace capmeter {
namespace {

struct ValueCase {
  const char* text;
  const char* unit;
  std::optional<double> value;
};

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

TEST(SimOptions, DefaultsGiveTheDocumentedCircuit) {
  const auto result = ParseSimOptions({});
  ASSERT_TRUE(result.options);
  EXPECT_DOUBLE_EQ(result.options->parts.capacitanceFarads, 4.7e-6);
  EXPECT_DOUBLE_EQ(result.options->parts.resistanceOhms, 100e3);
  EXPECT_FALSE(result.options->showHelp);
}

TEST(SimOptions, ReadsBothSpellingsAndHelp) {
  const auto result = ParseSimOptions({"--capacitance", "10u", "--resistance=47k", "--help"});
  ASSERT_TRUE(result.options);
  EXPECT_DOUBLE_EQ(result.options->parts.capacitanceFarads, 10e-6);
  EXPECT_DOUBLE_EQ(result.options->parts.resistanceOhms, 47e3);
  EXPECT_TRUE(result.options->showHelp);
}

TEST(SimOptions, RejectsBadCommandLinesWithAReason) {
  for (const std::vector<std::string>& arguments : {std::vector<std::string>{"--capacitance"},
                                                    {"--capacitance", "big"},
                                                    {"--resistance=-5"},
                                                    {"--colour", "red"},
                                                    {"4.7u"}}) {
    const auto result = ParseSimOptions(arguments);
    EXPECT_FALSE(result.options) << arguments.front();
    EXPECT_FALSE(result.error.empty());
  }
  EXPECT_NE(ParseSimOptions({"--capacitance", "big"}).error.find("'big'"), std::string::npos);
}

}  // namespace
}  // namespace capmeter
