#include "cli/command_line.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

namespace capmeter {
namespace {

struct Parsed {
  cli::ParsedCommandLine result;
  std::string out;
  std::string err;
};

Parsed Parse(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), "capmeter-cli");
  std::vector<const char*> argv;
  for (const std::string& a : arguments) argv.push_back(a.c_str());
  std::ostringstream out;
  std::ostringstream err;
  Parsed parsed{
      cli::ParseCommandLine(static_cast<int>(argv.size()), argv.data(), "9.8", out, err), {}, {}};
  parsed.out = out.str();
  parsed.err = err.str();
  return parsed;
}

TEST(CommandLine, MeasureWithItsOptions) {
  const Parsed p = Parse({"measure",
                          "--simulate",
                          "--capacitance",
                          "10u",
                          "--resistance=47k",
                          "--latency",
                          "125us",
                          "--count",
                          "5",
                          "--interval",
                          "500m",
                          "--slope",
                          "9.0909",
                          "--intercept",
                          "-0.5",
                          "--format",
                          "csv",
                          "--output",
                          "readings.csv",
                          "--trace",
                          "-"});
  ASSERT_TRUE(p.result.commandLine) << p.err;
  const cli::CommandLine& line = *p.result.commandLine;
  EXPECT_EQ(line.command, cli::Command::Measure);
  EXPECT_TRUE(line.simulation.enabled);
  EXPECT_DOUBLE_EQ(line.simulation.parts.capacitanceFarads, 10e-6);
  EXPECT_DOUBLE_EQ(line.simulation.parts.resistanceOhms, 47e3);
  EXPECT_EQ(line.simulation.latency, std::chrono::microseconds(125));
  EXPECT_EQ(line.measure.count, 5);
  EXPECT_EQ(line.measure.interval, std::chrono::milliseconds(500));
  EXPECT_EQ(line.measure.slope, "9.0909");
  EXPECT_EQ(line.measure.intercept, "-0.5");
  EXPECT_EQ(line.measure.format, cli::Format::Csv);
  EXPECT_EQ(line.output, "readings.csv");
  EXPECT_TRUE(line.measure.progress);
  EXPECT_EQ(line.trace, "-");
  EXPECT_TRUE(line.measure.dither);
}

TEST(CommandLine, DitherIsOnForMoreThanOneReadingUnlessSwitchedOff) {
  EXPECT_FALSE(Parse({"measure"}).result.commandLine->measure.dither);
  EXPECT_TRUE(Parse({"measure", "--count", "2"}).result.commandLine->measure.dither);
  EXPECT_FALSE(
      Parse({"measure", "--count", "2", "--no-dither"}).result.commandLine->measure.dither);
  EXPECT_TRUE(Parse({"calibrate", "1u", "10u"}).result.commandLine->calibrate.dither);
  EXPECT_FALSE(
      Parse({"calibrate", "1u", "10u", "--count", "1"}).result.commandLine->calibrate.dither);
}

TEST(CommandLine, CalibrateTakesTheCapacitorsWithPrefixes) {
  const Parsed p = Parse({"calibrate", "--simulate", "--yes", "1u", "4.7 uF", "1000n"});
  ASSERT_TRUE(p.result.commandLine) << p.err;
  const cli::CommandLine& line = *p.result.commandLine;
  EXPECT_EQ(line.command, cli::Command::Calibrate);
  EXPECT_TRUE(line.yes);
  EXPECT_EQ(line.calibrate.count, 10);
  ASSERT_EQ(line.calibrate.capacitors.size(), 3U);
  EXPECT_EQ(line.calibrate.capacitors[1].text, "4.7 uF");
  EXPECT_DOUBLE_EQ(line.calibrate.capacitors[1].microfarads, 4.7);
  EXPECT_NEAR(line.calibrate.capacitors[2].microfarads, 1.0, 1e-12);
}

TEST(CommandLine, CheckNeedsNothing) {
  const Parsed p = Parse({"check"});
  ASSERT_TRUE(p.result.commandLine);
  EXPECT_EQ(p.result.commandLine->command, cli::Command::Check);
  EXPECT_FALSE(p.result.commandLine->simulation.enabled);
  EXPECT_TRUE(p.result.commandLine->trace.empty());
}

class BadUsage : public ::testing::TestWithParam<std::vector<std::string>> {};

TEST_P(BadUsage, ExitsWithTwoAndSaysWhyInTwoLines) {
  const Parsed p = Parse(GetParam());
  EXPECT_FALSE(p.result.commandLine);
  EXPECT_EQ(p.result.exitCode, cli::kExitUsage);
  EXPECT_EQ(p.err.rfind("capmeter-cli: ", 0), 0U) << p.err;
  EXPECT_EQ(std::count(p.err.begin(), p.err.end(), '\n'), 2) << p.err;
  EXPECT_TRUE(p.out.empty());
}

TEST(CommandLine, AMistakeInASubCommandPointsAtItsHelp) {
  const Parsed p = Parse({"measure", "--count", "0"});
  EXPECT_NE(p.err.find("\nTry 'capmeter-cli measure --help' for more information.\n"),
            std::string::npos)
      << p.err;
}

INSTANTIATE_TEST_SUITE_P(
    Lines, BadUsage,
    ::testing::Values(std::vector<std::string>{}, std::vector<std::string>{"weigh"},
                      std::vector<std::string>{"measure", "--count", "0"},
                      std::vector<std::string>{"measure", "--count", "many"},
                      std::vector<std::string>{"measure", "--format", "xml"},
                      std::vector<std::string>{"measure", "--interval", "soon"},
                      std::vector<std::string>{"measure", "--capacitance", "1u"},
                      std::vector<std::string>{"measure", "--simulate", "--capacitance", "big"},
                      std::vector<std::string>{"measure", "--simulate", "--latency", "-1m"},
                      std::vector<std::string>{"measure", "--colour"},
                      std::vector<std::string>{"calibrate"},
                      std::vector<std::string>{"calibrate", "1u", "ten"},
                      std::vector<std::string>{"check", "--yes"}));

TEST(CommandLine, HelpForEachSubCommandAndTheVersionExitWithZero) {
  for (const char* command : {"check", "measure", "calibrate"}) {
    SCOPED_TRACE(command);
    const Parsed p = Parse({command, "--help"});
    EXPECT_FALSE(p.result.commandLine);
    EXPECT_EQ(p.result.exitCode, cli::kExitOk);
    EXPECT_NE(p.out.find(std::string("Usage: capmeter-cli ") + command), std::string::npos)
        << p.out;
    EXPECT_NE(p.out.find("--trace FILE"), std::string::npos);
    EXPECT_NE(p.out.find("--simulate"), std::string::npos);
  }
  EXPECT_NE(Parse({"measure", "--help"}).out.find("--no-dither"), std::string::npos);
  const Parsed version = Parse({"--version"});
  EXPECT_EQ(version.result.exitCode, cli::kExitOk);
  EXPECT_EQ(version.out.rfind("capmeter-cli 9.8\nCopyright", 0), 0U) << version.out;
}

}  // namespace
}  // namespace capmeter
