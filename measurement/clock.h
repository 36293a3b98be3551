#pragma once

#include <chrono>

namespace capmeter {

// The time source of a measurement. Monotonic: readings never jump when the
// system clock is set and never run backwards across midnight. Tests hand in
// a virtual clock; the simulated circuit reads the same clock.
class Clock {
 public:
  using Duration = std::chrono::nanoseconds;

  virtual ~Clock() = default;

  // Time since an arbitrary fixed origin.
  virtual Duration Now() = 0;
  // Lets `span` pass before returning (a virtual clock just moves on). The
  // simulated chip waits here for each call's latency; a measurement waits
  // only when its policy asks for a delay before the first poll (dither), and
  // a series of readings for the pause between two of them.
  virtual void Wait(Duration span) = 0;
};

// A span in seconds, for people and for arithmetic.
inline double ToSeconds(Clock::Duration span) {
  return std::chrono::duration<double>(span).count();
}

// The last stretch of a wait, spun rather than slept: a sleep wakes late by
// up to this much on this host when idle (docs/performance.md, "Waits that
// sleep"), and the dither's offsets and a simulated round trip need better.
inline constexpr std::chrono::microseconds kSpinStretch{200};

// The platform's steady clock at its full resolution.
class MonotonicClock final : public Clock {
 public:
  Duration Now() override;
  // Sleeps until kSpinStretch before the end, then spins the rest: a core
  // is not held for the whole wait, and the end is still kept to the
  // clock's resolution unless the host hands the core over late.
  void Wait(Duration span) override;
};

}  // namespace capmeter
