#include "monitor/start_setup.h"

#include <algorithm>
#include <chrono>
#include <limits>

#include "measurement/lenient_number.h"

namespace capmeter {

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
  setup.series.calibration = Calibration(LenientNumber(form.slope), LenientNumber(form.intercept));
  setup.series.timing = form.timing;
  setup.series.sampleClock = {form.sampleRate, 0.0};
  return setup;
}

}  // namespace capmeter
