#include "measurement/clock.h"

#include <thread>

namespace capmeter {

Clock::Duration MonotonicClock::Now() {
  return std::chrono::duration_cast<Duration>(std::chrono::steady_clock::now().time_since_epoch());
}

void MonotonicClock::Wait(Duration span) {
  const auto until = std::chrono::steady_clock::now() + span;
  if (span > kSpinStretch) {
    std::this_thread::sleep_until(until - kSpinStretch);
  }
  while (std::chrono::steady_clock::now() < until) {
  }
}

}  // namespace capmeter
