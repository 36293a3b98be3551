#include "cli/command_line.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "capmeter_version.h"

namespace capmeter {
namespace {

// What the command line ran: which sub-command, with which options.
struct Parsed {
  int exitCode = 0;
  std::string command;  // empty: none ran
  DriverOptions driver;
  cli::ListFormat list = cli::ListFormat::Table;
  cli::CheckOptions check;
  cli::MeasureOptions measure;
  cli::CalibrateOptions calibrate;
  cli::ServeOptions serve;
  std::string out;
  std::string err;
};

constexpr int kRan = 42;  // what the stand-in commands return

Parsed Parse(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), "capmeter-cli");
  std::vector<const char*> argv;
  for (const std::string& a : arguments) argv.push_back(a.c_str());
  std::ostringstream out;
  std::ostringstream err;
  Parsed parsed;
  // Each stand-in command notes its name, the driver options and its own.
  const auto ran = [&parsed](const char* name, auto Parsed::*options) {
    return [&parsed, name, options](const DriverOptions& driver, const auto& given) {
      parsed.command = name;
      parsed.driver = driver;
      parsed.*options = given;
      return kRan;
    };
  };
  const cli::Commands commands{
      ran("list", &Parsed::list),
      ran("check", &Parsed::check),
      ran("measure", &Parsed::measure),
      ran("calibrate", &Parsed::calibrate),
      ran("serve", &Parsed::serve),
      [&parsed](const DriverOptions& driver, const cli::ZeroOptions&, bool) {
        parsed.command = "zero";
        parsed.driver = driver;
        return kRan;
      },
      [&parsed](cli::CalibrationAction, const cli::LineFilter&, cli::ListFormat) {
        parsed.command = "calibration";
        return kRan;
      },
  };
  parsed.exitCode =
      cli::RunCommandLine(static_cast<int>(argv.size()), argv.data(), commands, out, err);
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
                          "--clock-jitter",
                          "0.05",
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
                          "-",
                          "--timing",
                          "stream",
                          "--sample-rate",
                          "500k"});
  ASSERT_EQ(p.command, "measure") << p.err;
  EXPECT_EQ(p.exitCode, kRan);
  EXPECT_TRUE(p.driver.simulate);
  EXPECT_DOUBLE_EQ(p.driver.parts.capacitanceFarads, 10e-6);
  EXPECT_DOUBLE_EQ(p.driver.parts.resistanceOhms, 47e3);
  EXPECT_EQ(p.driver.latency, std::chrono::microseconds(125));
  EXPECT_DOUBLE_EQ(p.driver.clockJitter, 0.05);
  EXPECT_EQ(p.driver.trace, "-");
  EXPECT_EQ(p.measure.series.count, 5);
  EXPECT_EQ(p.measure.series.interval, std::chrono::milliseconds(500));
  EXPECT_DOUBLE_EQ(p.measure.series.calibration.slope, 9.0909);
  EXPECT_DOUBLE_EQ(p.measure.series.calibration.intercept, -0.5);
  EXPECT_EQ(p.measure.format->name, "csv");
  EXPECT_EQ(p.measure.output, "readings.csv");
  EXPECT_TRUE(p.measure.series.dither);
  EXPECT_EQ(p.measure.series.timing, Timing::Stream);
  EXPECT_DOUBLE_EQ(p.measure.series.sampleClock.requestedRate, 500e3);
}

TEST(CommandLine, ANumberThatIsNotWholeIsRefusedQuotedWithWhatIsWrong) {
  const struct {
    std::vector<std::string> arguments;
    const char* message;
  } kCases[] = {
      // Read as the window reads its boxes, these would be 9 and 0.
      {{"measure", "--slope", "9,0909"},
       "'9,0909' is not a number such as 9.0909 or -2.5e-1: ',0909' after the number"},
      {{"serve", "--intercept", "abc"}, "'abc' is not a number such as 9.0909 or -2.5e-1: no"},
      // Not octal, hexadecimal or with blanks, as CLI11 would read a count.
      {{"measure", "--count", "0x10"}, "'0x10' is not a count from 1 to 1000000"},
      {{"list", "--simulate", "--chips", " 2"}, "' 2' is not a count from 1 to 16"},
      {{"measure", "--simulate", "--capacitance", "10NF"},
       "'10NF' is not a capacitance such as 4.7u: 'N' is no SI prefix"},
      {{"calibrate", "1u", "10NF"}, "'10NF' is not a capacitance such as 1u: 'N' is no SI"},
  };
  for (const auto& c : kCases) {
    const Parsed p = Parse(c.arguments);
    EXPECT_EQ(p.exitCode, cli::kExitUsage) << c.message;
    EXPECT_NE(p.err.find(c.message), std::string::npos) << p.err;
  }
  EXPECT_EQ(Parse({"measure", "--count", "010"}).measure.series.count, 10);
  EXPECT_EQ(Parse({"measure", "--format", "JSON"}).measure.format->name, "json");
}

TEST(CommandLine, ServeListensWhereAsked) {
  const struct {
    const char* listen;
    const char* host;  // null: a usage error
    int port;
  } kCases[] = {
      {"127.0.0.1:5025", "127.0.0.1", 5025},
      {":0", "127.0.0.1", 0},
      {"[::]:5025", "::", 5025},
      {"0.0.0.0:65535", "0.0.0.0", 65535},
      {"5025", nullptr, 0},
      {"host:65536", nullptr, 0},
      {"[::1]5025", nullptr, 0},
      {"::1:5025", nullptr, 0},
      {"a:", nullptr, 0},
  };
  for (const auto& c : kCases) {
    const Parsed p = Parse({"serve", "--listen", c.listen});
    if (c.host == nullptr) {
      EXPECT_EQ(p.exitCode, cli::kExitUsage) << c.listen;
      continue;
    }
    EXPECT_EQ(p.serve.listen.host, c.host) << c.listen;
    EXPECT_EQ(p.serve.listen.port, c.port) << c.listen;
  }
}

TEST(CommandLine, DitherIsOnForMoreThanOneReadingUnlessSwitchedOff) {
  EXPECT_FALSE(Parse({"measure"}).measure.series.dither);
  EXPECT_TRUE(Parse({"measure", "--count", "2"}).measure.series.dither);
  EXPECT_FALSE(Parse({"measure", "--count", "2", "--no-dither"}).measure.series.dither);
  EXPECT_TRUE(Parse({"calibrate", "1u", "10u"}).calibrate.dither);
  EXPECT_FALSE(Parse({"calibrate", "1u", "10u", "--count", "1"}).calibrate.dither);
}

TEST(CommandLine, CalibrateTakesTheCapacitorsWithPrefixes) {
  const Parsed p = Parse({"calibrate", "--simulate", "--yes", "1u", "4.7 uF", "1000n"});
  ASSERT_EQ(p.command, "calibrate") << p.err;
  EXPECT_TRUE(p.calibrate.yes);
  EXPECT_EQ(p.calibrate.count, 10);
  ASSERT_EQ(p.calibrate.capacitors.size(), 3U);
  EXPECT_EQ(p.calibrate.capacitors[1].text, "4.7 uF");
  EXPECT_DOUBLE_EQ(p.calibrate.capacitors[1].microfarads, 4.7);
  EXPECT_NEAR(p.calibrate.capacitors[2].microfarads, 1.0, 1e-12);
}

TEST(CommandLine, CheckNeedsNothing) {
  const Parsed p = Parse({"check"});
  EXPECT_EQ(p.command, "check");
  EXPECT_FALSE(p.driver.simulate);
  EXPECT_TRUE(p.driver.trace.empty());
  EXPECT_EQ(p.check.timing, Timing::Poll);
  EXPECT_DOUBLE_EQ(p.check.sampleClock.requestedRate, kFamilyDefaultRate);
}

TEST(CommandLine, EverySubCommandThatTimesReadingsTakesTheTiming) {
  const std::vector<std::string> timing{"--timing", "stream", "--sample-rate", "2.4M"};
  const auto with = [&timing](std::vector<std::string> arguments) {
    arguments.insert(arguments.end(), timing.begin(), timing.end());
    return Parse(arguments);
  };
  const Parsed check = with({"check"});
  EXPECT_EQ(check.check.timing, Timing::Stream) << check.err;
  EXPECT_DOUBLE_EQ(check.check.sampleClock.requestedRate, 2.4e6);
  const Parsed calibrate = with({"calibrate", "1u", "10u"});
  EXPECT_EQ(calibrate.calibrate.timing, Timing::Stream) << calibrate.err;
  EXPECT_DOUBLE_EQ(calibrate.calibrate.sampleClock.requestedRate, 2.4e6);
  const Parsed serve = with({"serve"});
  EXPECT_EQ(serve.serve.timing, Timing::Stream) << serve.err;
  EXPECT_DOUBLE_EQ(serve.serve.sampleClock.requestedRate, 2.4e6);
  const Parsed slow = Parse({"measure", "--sample-rate", "1k"});
  EXPECT_NE(slow.err.find("'1k' is not a sample rate from 3.6k to 12M"), std::string::npos)
      << slow.err;
}

TEST(CommandLine, EveryCommandTakesTheChipByIndexOrSerialNumber) {
  const Parsed list = Parse({"list", "--simulate", "--chips", "3", "--format", "json"});
  EXPECT_EQ(list.command, "list") << list.err;
  EXPECT_EQ(list.list, cli::ListFormat::Json);
  EXPECT_EQ(list.driver.chips, 3U);
  const Parsed measure = Parse({"measure", "--device", "2"});
  EXPECT_EQ(measure.driver.chip.index, 2U) << measure.err;
  EXPECT_FALSE(measure.driver.chip.serialNumber);
  const Parsed serve = Parse({"serve", "--serial", "A 1"});
  EXPECT_EQ(serve.driver.chip.serialNumber, "A 1") << serve.err;
  EXPECT_FALSE(serve.driver.chip.index);
}

class BadUsage : public ::testing::TestWithParam<std::vector<std::string>> {};

TEST_P(BadUsage, ExitsWithTwoAndSaysWhyInTwoLines) {
  const Parsed p = Parse(GetParam());
  EXPECT_TRUE(p.command.empty());
  EXPECT_EQ(p.exitCode, cli::kExitUsage);
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
    ::testing::Values(
        std::vector<std::string>{}, std::vector<std::string>{"weigh"},
        std::vector<std::string>{"measure", "--count", "0"},
        std::vector<std::string>{"measure", "--count", "many"},
        std::vector<std::string>{"measure", "--format", "xml"},
        std::vector<std::string>{"measure", "--format", "1"},
        std::vector<std::string>{"measure", "--interval", "soon"},
        std::vector<std::string>{"measure", "--capacitance", "1u"},
        std::vector<std::string>{"measure", "--simulate", "--capacitance", "big"},
        std::vector<std::string>{"measure", "--simulate", "--latency", "-1m"},
        std::vector<std::string>{"measure", "--colour"},
        std::vector<std::string>{"measure", "--timing", "fast"},
        std::vector<std::string>{"measure", "--sample-rate", "99M"},
        std::vector<std::string>{"serve", "--timing", "Stream"},
        std::vector<std::string>{"measure", "--clock-jitter", "0.05"},
        std::vector<std::string>{"check", "--simulate", "--clock-jitter", "0.6"},
        std::vector<std::string>{"calibrate"}, std::vector<std::string>{"calibrate", "1u", "ten"},
        std::vector<std::string>{"check", "--yes"},
        std::vector<std::string>{"measure", "--device", "-1"},
        std::vector<std::string>{"measure", "--device", "1", "--serial", "A"},
        std::vector<std::string>{"list", "--chips", "2"},
        std::vector<std::string>{"list", "--format", "xml"},
        // Options a sub-command would otherwise accept and ignore.
        std::vector<std::string>{"list", "--simulate", "--capacitance", "1u"},
        std::vector<std::string>{"list", "--device", "1"},
        std::vector<std::string>{"calibrate", "--simulate", "--capacitance", "1u", "1u", "2u"},
        std::vector<std::string>{"measure", "--timing", "poll", "--sample-rate", "500k"},
        std::vector<std::string>{"calibrate", "--timing", "stream", "--no-dither", "1u", "2u"}));

TEST(CommandLine, HelpForEachSubCommandAndTheVersionExitWithZero) {
  for (const char* command : {"check", "measure", "calibrate"}) {
    SCOPED_TRACE(command);
    const Parsed p = Parse({command, "--help"});
    EXPECT_TRUE(p.command.empty());
    EXPECT_EQ(p.exitCode, cli::kExitOk);
    EXPECT_NE(p.out.find(std::string("Usage: capmeter-cli ") + command), std::string::npos)
        << p.out;
    EXPECT_NE(p.out.find("--trace FILE"), std::string::npos);
    EXPECT_NE(p.out.find("--simulate"), std::string::npos);
  }
  EXPECT_NE(Parse({"measure", "--help"}).out.find("--no-dither"), std::string::npos);
  const Parsed version = Parse({"--version"});
  EXPECT_EQ(version.exitCode, cli::kExitOk);
  EXPECT_EQ(
      version.out.rfind(std::string("capmeter-cli ") + kVersionDescription + "\nCopyright", 0), 0U)
      << version.out;
}

}  // namespace
}  // namespace capmeter
