#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>

#include "cli/meter.h"
#include "cli/report.h"

namespace capmeter::cli {

struct MeasureOptions {
  int count = 1;
  Clock::Duration interval{0};
  // Read with the window's lenient number rules; m = 0 gives no capacitance.
  std::string slope = "0";
  std::string intercept = "0";
  Format format = Format::Table;
  bool dither = false;  // the command line turns it on for more than one reading
  std::uint64_t seed = 0;
  std::string decimalSeparator = ".";  // the table's
  bool progress = false;               // a progress line on `err` as readings arrive
};

// `measure`: opens device 0, takes the readings, writes them to `out` as they
// arrive and the summary after them, then leaves bit-bang mode and closes,
// also when a stop signal cuts the series short. Problems go to `err`.
// kExitOk when every reading gave a time; kExitFailed when the device could
// not be reached or a reading failed; 128 + the signal's number when stopped.
int RunMeasure(Meter& meter, const MeasureOptions& options, std::ostream& out, std::ostream& err);

}  // namespace capmeter::cli
