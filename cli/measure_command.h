#pragma once

#include <iosfwd>
#include <string>

#include "cli/command_context.h"
#include "measurement/reading_formats.h"

namespace capmeter::cli {

struct MeasureOptions {
  // Count, interval, dither, seed, the calibration line (no capacitance
  // while its slope is 0) and the timing.
  SeriesSetup series;
  const ReadingFormat* format = &ReadingFormats().front();
  std::string output;     // the file the readings go to; empty: standard output
  bool progress = false;  // a progress line on `err` as readings arrive
  // No line given: the one the calibration file keeps for the chip, its
  // timing and `label`, when there is one.
  bool useStoredLine = false;
  std::string label;
};

// `measure`: opens device 0, takes the readings, writes them to `out` as they
// arrive and the summary after them, then leaves bit-bang mode and closes,
// also when a stop signal or a failed write cuts the series short. Problems
// go to `err`. A calibration file that cannot be read is a failure.
// kExitOk when every reading gave a time and all was written;
// kExitFailed when the device could not be reached, a reading failed or the
// output could not be written; 128 + the signal's number when stopped.
int RunMeasure(CommandContext& context, const MeasureOptions& options, std::ostream& out,
               std::ostream& err);

}  // namespace capmeter::cli
