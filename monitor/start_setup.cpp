#include "monitor/start_setup.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <utility>

#include "measurement/si_value.h"

namespace capmeter {

namespace {

// The first of m and b that is no number, quoted with what is wrong with it.
std::string CalibrationRefusal(const StartForm& form) {
  for (const auto& [name, text] : {std::pair{"m", &form.slope}, std::pair{"b", &form.intercept}}) {
    if (const std::string problem = NumberProblem(*text); !problem.empty()) {
      return std::string("Not started: ") + name + " '" + *text +
             "' is not a number such as 9.0909: " + problem + ".";
    }
  }
  return {};
}

}  // namespace

StartSetup SetupFor(const StartForm& form) {
  constexpr long long kMostReadings = std::numeric_limits<int>::max();
  const long long points = form.count == 0 ? kMostReadings : form.count;
  StartSetup setup;
  setup.readingsPerPoint = form.average;
  setup.series.count = static_cast<int>(std::min(kMostReadings, points * form.average));
  setup.series.interval = std::chrono::duration_cast<Clock::Duration>(
      std::chrono::duration<double>(form.intervalSeconds));
  // A streamed reading has no first poll to spread; RunSeries spreads only
  // what it polls.
  setup.series.dither = setup.series.count > 1 && form.timing != Timing::Stream;
  setup.series.seed = NewSeed();
  setup.refusal = CalibrationRefusal(form);
  setup.series.calibration =
      Calibration(ParseNumber(form.slope).value_or(0.0), ParseNumber(form.intercept).value_or(0.0));
  setup.series.timing = form.timing;
  setup.series.sampleClock = {form.sampleRate, 0.0};
  return setup;
}

}  // namespace capmeter
