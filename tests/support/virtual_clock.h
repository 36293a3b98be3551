#pragma once

#include "measurement/clock.h"

namespace capmeter::testing {

// Time that moves only when somebody waits, so measurements are exact and
// instant in tests.
class VirtualClock final : public Clock {
 public:
  Duration Now() override { return now_; }
  void Wait(Duration span) override { now_ += span; }

 private:
  Duration now_{std::chrono::hours(1)};
};

}  // namespace capmeter::testing
