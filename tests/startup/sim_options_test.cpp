#include "startup/sim_options.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "capmeter_version.h"

namespace capmeter {
namespace {

// The parts the simulated chip gets, or the error that names the culprit.
struct Parsed {
  bool ok = false;
  CircuitParts parts;
  std::string error;
};

Parsed Parse(const std::vector<std::string>& arguments) {
  SimCommandLine commandLine;
  const bool ok = commandLine.Parse(arguments);
  return {ok, commandLine.Driver().parts, commandLine.Error()};
}

TEST(SimOptions, PartsReachTheSimulatedChip) {
  struct Case {
    std::vector<std::string> arguments;
    double farads;
    double ohms;
  };
  const Case cases[] = {{{}, 4.7e-6, 100e3},
                        {{"--capacitance", "10u", "--resistance=47k"}, 10e-6, 47e3},
                        {{"--resistance", "4.7K", "--capacitance=+10nF"}, 10e-9, 4.7e3}};
  for (const Case& c : cases) {
    const Parsed parsed = Parse(c.arguments);
    ASSERT_TRUE(parsed.ok) << parsed.error;
    EXPECT_DOUBLE_EQ(parsed.parts.capacitanceFarads, c.farads);
    EXPECT_DOUBLE_EQ(parsed.parts.resistanceOhms, c.ohms);
  }
  SimCommandLine commandLine;
  ASSERT_TRUE(commandLine.Parse({"--trace", "calls.txt", "--chips", "3", "--serial", "SIM-3"}));
  EXPECT_TRUE(commandLine.Driver().simulate);
  EXPECT_EQ(commandLine.Driver().trace, "calls.txt");
  EXPECT_EQ(commandLine.Driver().chips, 3U);
  EXPECT_EQ(commandLine.Driver().chip.serialNumber, "SIM-3");
  SimCommandLine byIndex;
  ASSERT_TRUE(byIndex.Parse({"--device", "2"})) << byIndex.Error();
  EXPECT_EQ(byIndex.Driver().chip.index, 2U);
}

TEST(SimOptions, ErrorsNameTheCulprit) {
  struct Bad {
    std::vector<std::string> arguments;
    std::string mention;
  };
  const Bad cases[] = {{{"--colour", "red"}, "'colour'"},
                       {{"--capacitance"}, "capacitance"},
                       {{"--capacitance", "big"}, "'big'"},
                       {{"--resistance=-5"}, "'-5' for --resistance"},
                       {{"4.7u"}, "'4.7u'"},
                       {{"--device", "-1"}, "'-1' for --device"},
                       {{"--device", "1", "--serial", "A"}, "exclude each other"},
                       {{"--chips", "0"}, "'0' for --chips"}};
  for (const Bad& bad : cases) {
    const Parsed parsed = Parse(bad.arguments);
    ASSERT_FALSE(parsed.ok) << bad.arguments.front();
    EXPECT_NE(parsed.error.find(bad.mention), std::string::npos) << parsed.error;
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
