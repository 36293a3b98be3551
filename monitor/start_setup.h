#pragma once

#include <string>

#include "measurement/series.h"

namespace capmeter {

// The window's series settings as the user left them at Start.
struct StartForm {
  int count = 0;  // points; 0 runs until stopped
  double intervalSeconds = 0.0;
  int average = 1;        // readings per point
  std::string slope;      // m, as typed
  std::string intercept;  // b, as typed
  Timing timing = Timing::Auto;
  double sampleRate = kFamilyDefaultRate;  // asked for with stream timing
};

struct StartSetup {
  SeriesSetup series;
  int readingsPerPoint = 1;
  // Why Start must not run ("m: '9,0909' is not a number ..."); empty when
  // it may.
  std::string refusal;
};

// The series Start runs: count x average readings (at most INT_MAX, which
// also stands for "until stopped"), polled and dithered as capmeter-cli
// dithers when there is more than one, or streamed at the sample rate asked
// for (measured before the first reading); with a fresh seed and m and b
// as complete numbers (ParseNumber): a typo refuses the series instead of
// calibrating it with another number.
StartSetup SetupFor(const StartForm& form);

}  // namespace capmeter
