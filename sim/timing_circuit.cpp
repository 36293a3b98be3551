#include "sim/timing_circuit.h"

#include <chrono>
#include <cmath>

namespace capmeter {

namespace {
constexpr std::uint8_t kD0 = 1U << 0;
constexpr std::uint8_t kD2 = 1U << 2;
constexpr double kMonostableFactor = 1.1;
// Far beyond any time-out, and well inside the range of the clock's ticks.
constexpr double kLongestHighSeconds = 1e6;
}  // namespace

Clock::Duration TimingCircuit::HighTime() const {
  const double seconds =
      kMonostableFactor * parts_.resistanceOhms * (parts_.capacitanceFarads + parts_.strayFarads);
  const double bounded =
      std::isnan(seconds) ? 0.0 : std::fmin(std::fmax(seconds, 0.0), kLongestHighSeconds);
  return std::chrono::duration_cast<Clock::Duration>(std::chrono::duration<double>(bounded));
}

void TimingCircuit::Drive(std::uint8_t pins, Clock::Duration now) {
  const bool d0High = (pins & kD0) != 0;
  d2High_ = (pins & kD2) != 0;
  if (!d2High_) {
    highUntil_.reset();  // held reset
  } else if (d0High_ && !d0High && !D1High(now)) {
    highUntil_ = now + HighTime();  // falling edge on D0; not retriggerable while high
  } else if (!d0High_ && d0High && highUntil_ && *highUntil_ < now) {
    highUntil_ = now;  // the trigger released after the charge: the output falls now
  }
  d0High_ = d0High;
}

bool TimingCircuit::D1High(Clock::Duration now) const {
  return d2High_ && highUntil_ && (now < *highUntil_ || !d0High_);
}

}  // namespace capmeter
