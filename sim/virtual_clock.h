#pragma once

#include "measurement/clock.h"

namespace capmeter {

// Time that moves only when somebody waits, so measurements on the simulated
// circuit are exact and instant: tests and benchmarks run on it.
class VirtualClock final : public Clock {
 public:
  Duration Now() override { return now_; }
  void Wait(Duration span) override { now_ += span; }

 private:
  Duration now_{std::chrono::hours(1)};
};

}  // namespace capmeter
