#pragma once

#include <cstdint>

#include "device/driver_library.h"
#include "measurement/clock.h"
#include "measurement/measure.h"

namespace capmeter {

// Where in one poll period the first poll of successive measurements falls.
//
// With a steady round trip every measurement of the same charge polls on the
// same grid, so the end of the charge is always seen the same fraction of a
// period late and a mean of many readings is as far off as one. Waiting a
// different fraction of the period before the first poll moves the grid: the
// error then spreads over a whole period and the mean settles half a period
// below the charge time, a constant offset that calibration takes out.
//
// The fractions are a random start followed by steps of the golden ratio's
// fraction, modulo 1. Any run of them covers the period evenly, so the mean of
// N readings is within about 1/N of a period of its goal, where independent
// random waits would leave it off by 0.3/sqrt(N) periods.
class DitherSequence {
 public:
  // `pollPeriod` zero gives no waits at all.
  DitherSequence(Clock::Duration pollPeriod, std::uint64_t seed);

  // The wait before the next measurement's first poll.
  Clock::Duration Next();
  Clock::Duration PollPeriod() const { return pollPeriod_; }

 private:
  Clock::Duration pollPeriod_;
  double fraction_;
};

// A measurement policy that dithers each measurement's first poll.
class DitherPolicy : public MeasurePolicy {
 public:
  explicit DitherPolicy(DitherSequence sequence) : sequence_(sequence) {}
  Clock::Duration FirstPollDelay() override { return sequence_.Next(); }

 private:
  DitherSequence sequence_;
};

// The time of one poll as the poll loop sees it: `reads` reads of the pins in
// a row, timed as a whole. Any handle will do; a failed read takes its time
// all the same.
Clock::Duration MeasurePollPeriod(FT_HANDLE lngHandle, DriverLibrary& library, Clock& clock,
                                  int reads = 16);

}  // namespace capmeter
