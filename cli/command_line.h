#pragma once

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>

#include "cli/calibrate_command.h"
#include "cli/measure_command.h"
#include "cli/serve_command.h"
#include "device/usb_id.h"
#include "sim/timing_circuit.h"

namespace capmeter::cli {

// What every sub-command takes: the driver library to talk to (the vendor's,
// the chip directly over USB or the simulated chip) and where its calls are
// traced.
struct DriverOptions {
  std::string trace;  // empty: none; "-": standard error
  bool simulate = false;
  std::optional<UsbId> usb;    // --usb: the direct USB driver for this ID
  CircuitParts parts;          // the simulated circuit
  Clock::Duration latency{0};  // the simulated round trip of each driver call
};

// What each sub-command does once its options are read; each returns the
// program's exit status. The seed and the output's progress line are the
// program's to fill in.
struct Commands {
  std::function<int(const DriverOptions&)> check;
  std::function<int(const DriverOptions&, const MeasureOptions&)> measure;
  std::function<int(const DriverOptions&, const CalibrateOptions&)> calibrate;
  std::function<int(const DriverOptions&, const ServeOptions&)> serve;
};

// Reads the command line and runs the sub-command it names. Help and the
// version go to `out` (exit 0), mistakes to `err` (exit kExitUsage). Dither
// is on for more than one reading unless --no-dither.
int RunCommandLine(int argc, const char* const* argv, const Commands& commands, std::ostream& out,
                   std::ostream& err);

}  // namespace capmeter::cli
