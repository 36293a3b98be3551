#pragma once

#include <span>
#include <vector>

#include "bench/error_summary.h"
#include "bench/time_of_day_clock.h"
#include "measurement/clock.h"
#include "sim/timing_circuit.h"

namespace capmeter::bench {

// One row of the accuracy report: one circuit, one driver-call latency.
struct RowSetup {
  CircuitParts parts;
  Clock::Duration latency{0};
  int runs = 20;
};

struct RowResult {
  Clock::Duration highTime{0};  // T, the circuit's true high time
  Clock::Duration latency{0};
  int timed = 0;   // measurements that gave a charge time
  int failed = 0;  // read errors and time-outs, which should not happen
  // Measurements whose result was not the difference of the recorded first
  // and last readings: the recorder then did not see what Measure saw.
  int unmatched = 0;
  double meanPolls = 0.0;
  double meanPollPeriod = 0.0;  // seconds
  ErrorSummary ours;            // Measure's t against T
  // The same start and end readings seen through each time-of-day model,
  // in the order the models were given.
  std::vector<ErrorSummary> timeOfDay;
};

// Measures the simulated circuit `setup.runs` times on `clock`, the chip and
// the measurement both reading it.
RowResult MeasureRow(const RowSetup& setup, Clock& clock, std::span<const TimeOfDayClock> models);

}  // namespace capmeter::bench
