#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "device/driver_library.h"
#include "device/ft_types.h"
#include "measurement/clock.h"
#include "measurement/line_fit.h"
#include "measurement/measure.h"
#include "measurement/statistics.h"
#include "measurement/stream_timing.h"

namespace capmeter {

struct Reading {
  int index = 0;  // from 1
  MeasureOutcome outcome = MeasureOutcome::ReadError;
  float seconds = 0.0F;  // only with a time
  // The most the true charge time may differ from `seconds`, as timed.
  float boundSeconds = 0.0F;
  // m x t + b, when there is a time and m is not 0; may be infinite.
  std::optional<double> microfarads;
  // Why a read error happened (see MeasureResult::failure).
  std::string failure;
  // The clock time the reading ended, for logs that say when.
  std::chrono::system_clock::time_point endedAt{};
  // Streamed: the sample clock the reading counted with, as refined so far.
  SampleClock sampleClock;

  bool HasTime() const { return outcome == MeasureOutcome::ChargeTime; }
};

// The user's line C = m x t + b as the window applies it: without a slope
// there is no capacitance, so the intercept counts only with one.
Line Calibration(double slope, double intercept);

// A fresh seed for a series' dither, so repeated series do not share a grid.
std::uint64_t NewSeed();

struct SeriesSetup {
  int count = 1;
  // From the start of one reading to the start of the next; a reading that
  // takes longer is followed at once.
  Clock::Duration interval{0};
  // Spread each reading's first poll over one measured poll period.
  bool dither = false;
  std::uint64_t seed = 0;
  // C = m x t + b in microfarads, m (slope) in microfarads per second; no
  // capacitance while m is 0.
  Line calibration;
  // Polls (dithered when asked), or the chip's samples at `sampleClock`'s
  // requested rate; its measured rate when already known (a rate of 0 is
  // measured before the first reading); Auto chooses (ChooseTiming).
  Timing timing = Timing::Poll;
  SampleClock sampleClock;
};

// How a series learns that it must stop, and how it lets time pass between
// readings.
struct SeriesControl {
  // The number of the signal (or other cause) that asks the series to stop,
  // or 0.
  std::function<int()> stopSignal = [] { return 0; };
  // Lets `span` pass; may return early once a stop came. Waits on the
  // series' clock when not set.
  std::function<void(Clock::Duration span)> rest;
  // The clock time, for each reading's end.
  std::function<std::chrono::system_clock::time_point()> wallClock = [] {
    return std::chrono::system_clock::now();
  };
};

struct SeriesEnd {
  int stopSignal = 0;             // the signal that cut the series short, or 0
  Clock::Duration pollPeriod{0};  // as measured for the dither; zero without it
  double sampleRate = 0.0;        // the sample clock streamed readings counted with, refined
  double rateError = 1.0;         // its standard error over it
  double askedRate = 0.0;         // the rate asked for it, the family's default resolved
  Timing timing = Timing::Poll;   // as the series used it, Auto resolved
};

// Takes up to `setup.count` readings on the opened device, handing each to
// `onReading` as it arrives; the series ends early when that returns false
// (its output failed, say). A stop signal abandons the reading under way,
// which is not handed on. With stream timing whose rate is not yet known it
// is measured first; a failure there is the series' one reading, a read
// error.
SeriesEnd RunSeries(DriverLibrary& library, Clock& clock, FT_HANDLE handle,
                    const SeriesSetup& setup, const SeriesControl& control,
                    const std::function<bool(const Reading&)>& onReading);

// What a set of readings came to: counts by outcome, and statistics of the
// times and capacitances of the readings that have them.
struct Summary {
  int ok = 0;
  int readErrors = 0;
  int timedOut = 0;
  int belowRange = 0;
  Statistics seconds;
  std::optional<Statistics> microfarads;  // when a slope was given
  std::string lastFailure;                // why the last read error happened
};

Summary Summarize(const std::vector<Reading>& readings, bool withCapacitance);

}  // namespace capmeter
