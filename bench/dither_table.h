#pragma once

#include <array>
#include <cstdint>
#include <iosfwd>
#include <span>

#include "bench/time_of_day_clock.h"
#include "measurement/clock.h"
#include "sim/timing_circuit.h"

namespace capmeter::bench {

// Means of N readings, for these N, from one series of readings.
inline constexpr std::array<int, 3> kMeanOf = {1, 10, 100};

// One row of the dither table: one circuit, one driver-call latency, the
// same number of readings with and without dither.
struct DitherSetup {
  CircuitParts parts;
  Clock::Duration latency{0};
  int readings = 100;
  std::uint64_t seed = 1;
};

struct DitherRow {
  Clock::Duration highTime{0};  // T
  Clock::Duration latency{0};
  Clock::Duration pollPeriod{0};  // as measured for the dither
  // Median |mean of N - T| over the series cut into blocks of N, in seconds,
  // for each N of kMeanOf.
  std::array<double, kMeanOf.size()> plain{};
  std::array<double, kMeanOf.size()> dithered{};
  // The dithered means with their expected lean of half a poll period taken
  // out: median |mean of N + P/2 - T|.
  std::array<double, kMeanOf.size()> ditheredLessLean{};
  // The plain readings through the time-of-day clock.
  std::array<double, kMeanOf.size()> old{};
  // Readings more than two poll periods from T, which the grid cannot
  // explain: the machine took the core away mid-measurement. Counted and
  // left out of the means, which are about the grid, not the machine.
  int disturbed = 0;
  int failed = 0;  // readings without a time, which should not happen
};

// Measures the simulated circuit on `clock`, first without, then with dither.
DitherRow MeasureDitherRow(const DitherSetup& setup, Clock& clock, const TimeOfDayClock& old);

// The Markdown table of the rows, errors in microseconds.
void PrintDitherTable(std::ostream& out, std::span<const DitherRow> rows);

}  // namespace capmeter::bench
