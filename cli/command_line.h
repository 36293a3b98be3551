#pragma once

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>

#include "cli/calibrate_command.h"
#include "cli/calibration_command.h"
#include "cli/check.h"
#include "cli/list_command.h"
#include "cli/measure_command.h"
#include "cli/serve_command.h"
#include "cli/zero_command.h"
#include "startup/driver_setup.h"

namespace capmeter::cli {

// What each sub-command does once its options are read; each returns the
// program's exit status. The seed and the output's progress line are the
// program's to fill in.
struct Commands {
  std::function<int(const DriverOptions&, ListFormat)> list;
  std::function<int(const DriverOptions&, const CheckOptions&)> check;
  std::function<int(const DriverOptions&, const MeasureOptions&)> measure;
  std::function<int(const DriverOptions&, const CalibrateOptions&)> calibrate;
  std::function<int(const DriverOptions&, const ServeOptions&)> serve;
  // `yes`: no prompt to take the capacitor off.
  std::function<int(const DriverOptions&, const ZeroOptions&, bool yes)> zero;
  std::function<int(CalibrationAction, const LineFilter&, ListFormat)> calibration;
};

// Reads the command line and runs the sub-command it names. Help and the
// version go to `out` (exit 0), mistakes to `err` (exit kExitUsage). Dither
// is on for more than one reading unless --no-dither.
int RunCommandLine(int argc, const char* const* argv, const Commands& commands, std::ostream& out,
                   std::ostream& err);

}  // namespace capmeter::cli
