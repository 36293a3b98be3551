#pragma once

#include <iosfwd>
#include <vector>

#include "bench/error_summary.h"
#include "measurement/clock.h"
#include "sim/timing_circuit.h"

namespace capmeter::bench {

// One row of the stream table: one circuit, one driver-call latency, the
// simulated clock steady or jittering; streamed and polled readings of it.
struct StreamRowSetup {
  CircuitParts parts;
  Clock::Duration latency{0};
  double jitter = 0.0;
  int runs = 10;
};

struct StreamRow {
  StreamRowSetup setup;
  Clock::Duration highTime{0};
  double sampleRate = 0.0;  // as measured before the readings
  int failed = 0;           // readings without a time, either way
  ErrorSummary streamed;    // t − T in seconds
  ErrorSummary polled;
};

// Measures the row on `clock`, the simulated chip and the measurement both
// reading it: the sample rate first, then `runs` streamed and `runs` polled
// readings.
StreamRow MeasureStreamRow(const StreamRowSetup& setup, Clock& clock);

void PrintStreamTable(std::ostream& out, const std::vector<StreamRow>& rows);

}  // namespace capmeter::bench
