#pragma once

#include <optional>
#include <string>
#include <vector>

#include "sim/timing_circuit.h"
#include "ui/command_line.h"

namespace capmeter {

// capmeter-sim's command line: --capacitance and --resistance besides --help
// and --version. Values are positive numbers with an optional SI prefix and
// unit (see ParseEngineeringValue).
class SimCommandLine : public CommandLine {
 public:
  SimCommandLine();

  // As CommandLine::Parse, and false as well when a value is not a part value.
  bool Parse(const std::vector<std::string>& arguments);
  const CircuitParts& Parts() const { return parts_; }

 protected:
  // For another program on the simulated circuit, with its own name and texts.
  SimCommandLine(std::string program, std::string summary, std::string details);

 private:
  CircuitParts parts_;
};

// What `capmeter-sim` is told on its command line.
struct SimOptions {
  CircuitParts parts;
  bool showHelp = false;
  bool showVersion = false;
};

struct SimOptionsResult {
  std::optional<SimOptions> options;  // empty on a bad command line
  std::string error;                  // what was wrong, for the user
};

// Reads the arguments after the program's name, e.g. "--capacitance 4.7u",
// "--resistance=100k", "--help".
SimOptionsResult ParseSimOptions(const std::vector<std::string>& arguments);

std::string SimUsage();

}  // namespace capmeter
