#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/timing_circuit.h"

namespace capmeter {

// What `capmeter-sim` is told on its command line.
struct SimOptions {
  CircuitParts parts;
  bool showHelp = false;
};

struct SimOptionsResult {
  std::optional<SimOptions> options;  // empty on a bad command line
  std::string error;                  // what was wrong, for the user
};

// Reads "--capacitance 4.7u", "--resistance 100k" (also "--name=value"),
// "--help". Values are positive numbers with an optional SI prefix (p, n, u,
// µ, m, k, M, G) and an optional unit (F; ohm or Ω).
SimOptionsResult ParseSimOptions(const std::vector<std::string>& arguments);

// A value such as "4.7u", "100k", "2.2e-6", "10 nF" or "1kohm"; empty when it
// is not a positive finite number with a known prefix and unit.
std::optional<double> ParseEngineeringValue(std::string_view text, std::string_view unit);

std::string SimUsage();

}  // namespace capmeter
