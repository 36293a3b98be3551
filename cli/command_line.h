#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

#include "cli/calibrate_command.h"
#include "cli/measure_command.h"
#include "sim/timing_circuit.h"

namespace capmeter::cli {

enum class Command { Check, Measure, Calibrate };

struct SimulationOptions {
  bool enabled = false;
  CircuitParts parts;
  Clock::Duration latency{0};  // each driver call's round trip
};

struct CommandLine {
  Command command = Command::Check;
  std::string trace;  // empty: none; "-": standard error
  SimulationOptions simulation;
  MeasureOptions measure;
  std::string output;  // measure's --output; empty: standard output
  CalibrateOptions calibrate;
  bool yes = false;  // calibrate without prompts
};

struct ParsedCommandLine {
  std::optional<CommandLine> commandLine;  // empty: exit with exitCode
  int exitCode = kExitOk;
};

// "capmeter-cli <version>", a copyright line and the licence.
std::string VersionText(std::string_view version);

// Reads the sub-command and its options. Help and the version go to `out`
// (exit 0), mistakes to `err` (exit kExitUsage). Dither is switched on for
// more than one reading unless --no-dither; the seed and the decimal
// separator are the caller's to fill in.
ParsedCommandLine ParseCommandLine(int argc, const char* const* argv, std::string_view version,
                                   std::ostream& out, std::ostream& err);

}  // namespace capmeter::cli
