#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "cli/meter.h"
#include "measurement/measure.h"
#include "measurement/statistics.h"

namespace capmeter::cli {

// The calibration line C = m x t + b, m in microfarads per second.
struct Calibration {
  double m = 0.0;
  double b = 0.0;
};

struct Reading {
  int index = 0;  // from 1
  MeasureOutcome outcome = MeasureOutcome::ReadError;
  float seconds = 0.0F;  // only with a time
  // m x t + b, when there is a time and m is not 0; may be infinite.
  std::optional<double> microfarads;

  bool HasTime() const { return outcome == MeasureOutcome::ChargeTime; }
};

struct SeriesSetup {
  int count = 1;
  // From the start of one reading to the start of the next; a reading that
  // takes longer is followed at once.
  Clock::Duration interval{0};
  // Spread each reading's first poll over one measured poll period.
  bool dither = false;
  std::uint64_t seed = 0;
  Calibration calibration;
};

struct SeriesEnd {
  int stopSignal = 0;             // the signal that cut the series short, or 0
  Clock::Duration pollPeriod{0};  // as measured for the dither; zero without it
};

// Takes up to `setup.count` readings on the opened device, handing each to
// `onReading` as it arrives. A stop signal abandons the reading under way,
// which is not handed on.
SeriesEnd RunSeries(Meter& meter, FT_HANDLE handle, const SeriesSetup& setup,
                    const std::function<void(const Reading&)>& onReading);

// What a set of readings came to: counts by outcome, and statistics of the
// times and capacitances of the readings that have them.
struct Summary {
  int ok = 0;
  int readErrors = 0;
  int timedOut = 0;
  Statistics seconds;
  std::optional<Statistics> microfarads;  // when a slope was given
};

Summary Summarize(const std::vector<Reading>& readings, bool withCapacitance);

}  // namespace capmeter::cli
