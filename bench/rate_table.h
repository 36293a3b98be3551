#pragma once

#include <cstdint>
#include <iosfwd>
#include <vector>

#include "measurement/clock.h"

namespace capmeter::bench {

// One row of the rate table: the simulated chip of one family, handing its
// transfers over as a busy host does, its rate measured `runs` times from
// the arrival times it keeps or, without them, from the looks that found
// samples.
struct RateRowSetup {
  std::uint16_t bcdDevice = 0x0900;
  bool arrivalTimes = true;
  int runs = 20;
};

struct RateRow {
  RateRowSetup setup;
  double rate = 0.0;          // the chip's true rate
  double worstPpm = 0.0;      // the largest |measured − true| over true, in ppm
  double meanPpm = 0.0;       // the mean of those
  double statedPpm = 0.0;     // the largest standard error the measurements stated
  double longestSeconds = 0;  // the longest a measurement took
  double meanSeconds = 0;
  int failed = 0;
};

RateRow MeasureRateRow(const RateRowSetup& setup, Clock& clock);
void PrintRateTable(std::ostream& out, const std::vector<RateRow>& rows);

}  // namespace capmeter::bench
