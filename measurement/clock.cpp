#include "measurement/clock.h"

namespace capmeter {

Clock::Duration MonotonicClock::Now() {
  return std::chrono::duration_cast<Duration>(std::chrono::steady_clock::now().time_since_epoch());
}

void MonotonicClock::Wait(Duration span) {
  const auto until = std::chrono::steady_clock::now() + span;
  while (std::chrono::steady_clock::now() < until) {
  }
}

}  // namespace capmeter
