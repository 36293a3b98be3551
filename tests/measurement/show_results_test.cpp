#include "measurement/show_results.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>

#include "tests/support/recording_display.h"

namespace capmeter {
namespace {

using testing::EventLog;
using testing::RecordingDisplay;

struct Window {
  Window(std::string m, std::string b) {
    display.texts[TextSlot::txtM] = std::move(m);
    display.texts[TextSlot::txtB] = std::move(b);
  }
  bool Read(TextSlot slot) const {
    const std::string event = "ReadText " + std::string(SlotName(slot));
    return std::find(log.begin(), log.end(), event) != log.end();
  }
  std::string Capacitance() { return display.captions[LabelSlot::lblCapacitance]; }
  std::string Time() { return display.captions[LabelSlot::lblTime]; }

  EventLog log;
  RecordingDisplay display{log};
};

TEST(ShowResults, CalibratedLineInOrder) {
  Window window("2", "0.25");
  ShowResults(0.5F, window.display, ".");
  const EventLog expected = {
      "SetCaption lblTime 0.5",
      "ReadText txtM",
      "ReadText txtB",
      "SetCaption lblCapacitance 1.25",
  };
  EXPECT_EQ(window.log, expected);
}

TEST(ShowResults, BothDisplaysUseTheHandedInSeparator) {
  Window window("2", "0.25");  // the period stays the only separator typed in
  ShowResults(0.5F, window.display, ",");
  EXPECT_EQ(window.Time(), "0,5");
  EXPECT_EQ(window.Capacitance(), "1,25");
}

class ShowResultsZeroSlope : public ::testing::TestWithParam<std::string> {};

TEST_P(ShowResultsZeroSlope, SaysNoDataAtOnceAndLeavesTxtBUnread) {
  Window window(GetParam(), "5");
  ShowResults(0.5F, window.display, ".");
  const EventLog expected = {
      "SetCaption lblTime 0.5",
      "ReadText txtM",
      "SetCaption lblCapacitance No Data!",
      "RepaintNow lblCapacitance",
  };
  EXPECT_EQ(window.log, expected);
  EXPECT_EQ(window.display.painted[LabelSlot::lblCapacitance], "No Data!");
}

INSTANTIATE_TEST_SUITE_P(Texts, ShowResultsZeroSlope,
                         ::testing::Values("0", "", "abc", "0.000", "-0", " - 0 ", "0e5", "&H0",
                                           "1e-400", ",5"));

struct CalibrationCase {
  std::string m;
  float seconds;
  std::string b;
  std::string capacitance;
};

void PrintTo(const CalibrationCase& c, std::ostream* os) {
  *os << "m=\"" << c.m << "\" t=" << c.seconds << " b=\"" << c.b << '"';
}

class ShowResultsCapacitance : public ::testing::TestWithParam<CalibrationCase> {};

TEST_P(ShowResultsCapacitance, IsMTimesTPlusB) {
  const CalibrationCase& c = GetParam();
  Window window(c.m, c.b);
  ShowResults(c.seconds, window.display, ".");
  EXPECT_EQ(window.Capacitance(), c.capacitance);
  EXPECT_TRUE(window.Read(TextSlot::txtB));
}

INSTANTIATE_TEST_SUITE_P(Lines, ShowResultsCapacitance,
                         ::testing::Values(CalibrationCase{"2", 0.5F, "0.25", "1.25"},
                                           CalibrationCase{"3", 0.5F, "", "1.5"},  // no intercept
                                           CalibrationCase{"3", 0.5F, "abc", "1.5"},  // nor here
                                           CalibrationCase{"1", 0.0F, "0", "."},      // C = 0
                                           CalibrationCase{"1,5", 2.0F, "0",
                                                           "2."},  // the comma ends m
                                           CalibrationCase{"2", 0.5F, "-1", "."},  // cancels out
                                           CalibrationCase{"2", 0.5F, "-1.0000004", "."},
                                           CalibrationCase{"&H10", 0.25F, "1e-6", "4.000001"}));

// A negative t (the monotonic clock never gives one, but Show results takes
// any time it is handed) enters the line as it is.
INSTANTIATE_TEST_SUITE_P(NegativeTime, ShowResultsCapacitance,
                         ::testing::Values(CalibrationCase{"2", -0.5F, "0.25", "-.75"},
                                           CalibrationCase{"1000", -86399.5F, "0", "-86399500."},
                                           CalibrationCase{"-2", -0.5F, "0", "1."}));

// t is widened before the product: in single precision 1e6 x 0.1F would
// lose its last digits.
INSTANTIATE_TEST_SUITE_P(DoublePrecision, ShowResultsCapacitance,
                         ::testing::Values(CalibrationCase{"1e6", 0.1F, "0", "100000.00149"},
                                           CalibrationCase{"1", 0.1F, "1e9", "1000000000.1"}));

INSTANTIATE_TEST_SUITE_P(
    OutOfRange, ShowResultsCapacitance,
    ::testing::Values(CalibrationCase{"1e400", 0.5F, "0", "Out of Range!"},
                      CalibrationCase{"-1e400", 0.5F, "0", "Out of Range!"},
                      CalibrationCase{"1", 0.5F, "1e400", "Out of Range!"},
                      CalibrationCase{"1e308", 1e10F, "0", "Out of Range!"},        // overflows
                      CalibrationCase{"1e400", 0.0F, "0", "Out of Range!"},         // inf x 0
                      CalibrationCase{"1e400", 0.5F, "-1e400", "Out of Range!"}));  // inf - inf

TEST(ShowResults, TimeShowsInBothBranches) {
  for (const char* m : {"0", "2"}) {
    Window window(m, "0");
    ShowResults(1.5e-5F, window.display, ",");
    EXPECT_EQ(window.Time(), "1,5E-05") << "m=" << m;
  }
}

}  // namespace
}  // namespace capmeter
