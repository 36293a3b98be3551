#include "ui/sim_options.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "capmeter_version.h"

namespace capmeter {
namespace {

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

TEST(SimOptions, ValuesAsPartsAreMarked) {
  const auto result = ParseSimOptions({"--resistance", "4.7K", "--capacitance=+10nF"});
  ASSERT_TRUE(result.options) << result.error;
  EXPECT_DOUBLE_EQ(result.options->parts.resistanceOhms, 4.7e3);
  EXPECT_DOUBLE_EQ(result.options->parts.capacitanceFarads, 10e-9);
}

TEST(SimOptions, ErrorsNameTheCulprit) {
  struct Bad {
    std::vector<std::string> arguments;
    std::string mention;
  };
  const Bad cases[] = {{{"--colour", "red"}, "'colour'"},
                       {{"--capacitance"}, "capacitance"},
                       {{"--resistance=-5"}, "'-5' for --resistance"},
                       {{"4.7u"}, "'4.7u'"}};
  for (const Bad& bad : cases) {
    const auto result = ParseSimOptions(bad.arguments);
    ASSERT_FALSE(result.options) << bad.arguments.front();
    EXPECT_NE(result.error.find(bad.mention), std::string::npos) << result.error;
  }
}

// What the program itself prints and returns, without starting Qt.
struct Answer {
  std::optional<int> status;
  std::string out;
  std::string err;
};

Answer AnswerFor(const std::vector<std::string>& arguments) {
  SimCommandLine commandLine;
  const bool parsed = commandLine.Parse(arguments);
  std::ostringstream out;
  std::ostringstream err;
  const auto status = AnswerCommandLine(commandLine, parsed, out, err);
  return {status, out.str(), err.str()};
}

TEST(SimCommandLine, HelpAndVersionGoToStandardOutput) {
  const Answer help = AnswerFor({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.err, "");
  EXPECT_EQ(help.out.rfind("Usage: capmeter-sim [options]\n", 0), 0U) << help.out;
  for (const char* option :
       {"--capacitance <VALUE>", "--resistance <VALUE>", "--help", "--version", "SI prefix"}) {
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
  }
  EXPECT_EQ(AnswerFor({"-h"}).out, help.out);

  const Answer version = AnswerFor({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind(std::string("capmeter-sim ") + kVersion, 0), 0U) << version.out;
  EXPECT_NE(version.out.find(kVersionDescription), std::string::npos);
  EXPECT_NE(version.out.find("MIT"), std::string::npos);
  EXPECT_EQ(AnswerFor({"-v"}).out, version.out);
}

TEST(SimCommandLine, ABadCommandLineGivesTwoShortLinesAndStatusTwo) {
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"--colour"}, {"--capacitance", "big"}, {"extra"}}) {
    const Answer answer = AnswerFor(arguments);
    EXPECT_EQ(answer.status, 2) << arguments.front();
    EXPECT_EQ(answer.out, "");
    EXPECT_EQ(answer.err.rfind("capmeter-sim: ", 0), 0U) << answer.err;
    EXPECT_NE(answer.err.find("\nTry 'capmeter-sim --help' for more information.\n"),
              std::string::npos)
        << answer.err;
    EXPECT_EQ(std::count(answer.err.begin(), answer.err.end(), '\n'), 2) << answer.err;
  }
}

TEST(WindowCommandLine, StartingTextsOfMAndBAndTheTraceAreOnlyThereWhenGiven) {
  SimCommandLine plain;
  ASSERT_TRUE(plain.Parse({}));
  EXPECT_FALSE(plain.InitialSlope());
  EXPECT_FALSE(plain.InitialIntercept());
  EXPECT_EQ(plain.TracePath(), "");

  SimCommandLine given;
  ASSERT_TRUE(given.Parse({"--slope", "9.0909", "--intercept=-4.5e-05", "--trace", "-"}))
      << given.Error();
  EXPECT_EQ(given.InitialSlope(), "9.0909");
  EXPECT_EQ(given.InitialIntercept(), "-4.5e-05");
  EXPECT_EQ(given.TracePath(), "-");

  // Any text goes, as in the boxes themselves; an empty one too.
  SimCommandLine odd;
  ASSERT_TRUE(odd.Parse({"--slope", "", "--intercept", "1,5 uF"})) << odd.Error();
  EXPECT_EQ(odd.InitialSlope(), "");
  EXPECT_EQ(odd.InitialIntercept(), "1,5 uF");

  const Answer help = AnswerFor({"--help"});
  for (const char* option : {"--slope <TEXT>", "--intercept <TEXT>", "--trace <FILE>"}) {
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
  }
}

TEST(SimCommandLine, ValidArgumentsStartTheProgram) {
  const Answer answer = AnswerFor({"--capacitance", "1u"});
  EXPECT_FALSE(answer.status);
  EXPECT_EQ(answer.out + answer.err, "");
}

}  // namespace
}  // namespace capmeter
