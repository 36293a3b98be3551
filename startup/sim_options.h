#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/timing_circuit.h"
#include "startup/command_line.h"
#include "startup/driver_setup.h"

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
  // The simulated chip with these parts; traced if asked.
  DriverOptions Driver() const;

 protected:
  // For another program on the simulated circuit, with its own name and texts.
  SimCommandLine(std::string program, std::string summary, std::string details);

 private:
  CircuitParts parts_;
  std::uint32_t chips_ = 1;
};

}  // namespace capmeter
