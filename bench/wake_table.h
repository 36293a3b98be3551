#pragma once

#include <iosfwd>

namespace capmeter::bench {

// How late a sleeping thread wakes on this host: sleep_for and sleep_until
// of 100 µs to 2 ms, each `wakes` times, the lateness past the span in
// quantiles. The stretch MonotonicClock::Wait spins is chosen from it.
void PrintWakeTable(std::ostream& out, int wakes);

}  // namespace capmeter::bench
