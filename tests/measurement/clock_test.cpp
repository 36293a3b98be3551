#include "measurement/clock.h"

#include <gtest/gtest.h>

namespace capmeter {
namespace {

using namespace std::chrono;

// Wait sleeps, then spins its last kSpinStretch: neither part may end it
// early, below, at or beyond the stretch. (Late it may be, on a busy host.)
TEST(MonotonicClock, AWaitNeverEndsBeforeItsSpan) {
  MonotonicClock clock;
  for (const Clock::Duration span :
       {Clock::Duration{0}, Clock::Duration{kSpinStretch / 2}, Clock::Duration{kSpinStretch},
        Clock::Duration{kSpinStretch + microseconds(1)}, Clock::Duration{milliseconds(3)}}) {
    for (int i = 0; i < 20; ++i) {
      const Clock::Duration before = clock.Now();
      clock.Wait(span);
      EXPECT_GE(clock.Now() - before, span) << span.count() << " ns";
    }
  }
}

}  // namespace
}  // namespace capmeter
