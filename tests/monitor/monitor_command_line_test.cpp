// capmeter-monitor's own options, read before Qt starts.

#include "monitor/monitor_command_line.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace capmeter {
namespace {

TEST(MonitorCommandLine, TimingAndSampleRateAreTheFirstChoiceOrAnErrorWithStatusTwo) {
  MonitorCommandLine given;
  ASSERT_TRUE(given.Parse({"--timing", "stream", "--sample-rate", "500k"})) << given.Error();
  EXPECT_EQ(given.ReadingTiming(), Timing::Stream);
  EXPECT_EQ(given.SampleRate(), 500e3);

  struct Bad {
    std::vector<std::string> arguments;
    std::string mention;
  };
  const Bad cases[] = {{{"--timing", "fast"}, "'fast' for --timing"},
                       {{"--sample-rate", "99M"}, "'99M' for --sample-rate"},
                       {{"--sample-rate=1k"}, "'1k' for --sample-rate"},
                       {{"--slope", "9,0909"}, "'9,0909' for --slope (expected a number"},
                       {{"--intercept", "abc"}, "'abc' for --intercept"}};
  for (const Bad& bad : cases) {
    MonitorCommandLine commandLine;
    const bool parsed = commandLine.Parse(bad.arguments);
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(AnswerCommandLine(commandLine, parsed, out, err), 2) << bad.mention;
    EXPECT_NE(err.str().find(bad.mention), std::string::npos) << err.str();
  }
}

}  // namespace
}  // namespace capmeter
