#pragma once

#include <chrono>

#include "measurement/clock.h"

namespace capmeter::bench {

// The time-of-day clock held in single precision, as a model fed with our own
// monotonic readings: `origin` is taken to be `atOrigin` after local midnight,
// each reading is first cut down to the system tick the clock advances by,
// then stored as float seconds since midnight. Comparing its elapsed times
// with ours shows what timing that way would have cost on the same run.
struct TimeOfDayClock {
  Clock::Duration atOrigin{0};  // local time of day of `origin`
  Clock::Duration origin{0};    // a monotonic reading
  Clock::Duration tick{0};      // zero: no tick, full resolution

  constexpr float Reading(Clock::Duration monotonic) const {
    Clock::Duration sinceOrigin = monotonic - origin;
    if (tick > Clock::Duration::zero()) {
      // Down to the last tick, also before the origin.
      auto ticks = sinceOrigin / tick;
      if (sinceOrigin % tick < Clock::Duration::zero()) {
        --ticks;
      }
      sinceOrigin = ticks * tick;
    }
    return static_cast<float>(std::chrono::duration<double>(atOrigin + sinceOrigin).count());
  }
  // Elapsed time between two monotonic readings, as that clock would give it.
  constexpr float Elapsed(Clock::Duration start, Clock::Duration end) const {
    return Reading(end) - Reading(start);
  }
};

// The 64 Hz tick of the usual Windows time of day.
inline constexpr Clock::Duration kSystemTick = std::chrono::microseconds(15'625);

namespace time_of_day_checks {
using std::chrono::hours;
using std::chrono::milliseconds;
using std::chrono::minutes;
constexpr TimeOfDayClock kMorning{hours(9) + minutes(30), hours(1), kSystemTick};
// 20 ms after the origin still reads the first tick after it.
static_assert(kMorning.Reading(hours(1) + milliseconds(20)) == 34200.015625F);
// Just before the origin falls to the tick before it, not to the origin.
static_assert(kMorning.Reading(hours(1) - milliseconds(1)) == 34199.984375F);
// Without a tick only single precision is left: 1/256 s spacing after 09:06.
constexpr TimeOfDayClock kMorningNoTick{hours(9) + minutes(30), hours(1), {}};
static_assert(kMorningNoTick.Elapsed(hours(1), hours(1) + milliseconds(1)) == 0.0F);
static_assert(kMorningNoTick.Elapsed(hours(1), hours(1) + milliseconds(3)) == 0.00390625F);
}  // namespace time_of_day_checks

}  // namespace capmeter::bench
