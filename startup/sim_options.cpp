#include "startup/sim_options.h"

#include <utility>

#include "measurement/si_value.h"

namespace capmeter {

namespace {

constexpr const char* kDetails =
    "The circuit holds D1 high for 1.1 x R x C after each trigger. Values take\n"
    "an SI prefix: p, n, u (or \xC2\xB5), m, k (or K), M, G, and may end in the unit\n"
    "(e.g. 4.7u, 4.7uF, +100K, 2.2e-6, \"10 nF\", 1kohm).\n"
    "With the defaults, m = 9.0909 and b = 0 make the meter read about 4.7.\n";

}  // namespace

SimCommandLine::SimCommandLine()
    : SimCommandLine("capmeter-sim",
                     "The capacitance meter on a simulated USB chip and timing circuit.",
                     kDetails) {}

SimCommandLine::SimCommandLine(std::string program, std::string summary, std::string details)
    : CommandLine(std::move(program), std::move(summary), std::move(details)) {
  AddValueOption("capacitance", "The capacitor under test, in farads (default 4.7u).", "VALUE",
                 "4.7u");
  AddValueOption("resistance", "The timing resistor, in ohms (default 100k).", "VALUE", "100k");
  AddValueOption("stray-capacitance",
                 "The stray capacitance of the wiring and the timer, in parallel with the "
                 "capacitor, in farads (default 0).",
                 "VALUE", "");
  AddValueOption("chips",
                 "Simulated chips, each with its own serial number (SIM-1, SIM-2, ...), on the one "
                 "circuit (default 1).",
                 "N", "1");
}

bool SimCommandLine::Parse(const std::vector<std::string>& arguments) {
  if (!CommandLine::Parse(arguments)) return false;
  struct Part {
    const char* name;
    const char* unit;
    const char* example;
    double& value;
  };
  for (const Part& part : {Part{"capacitance", "F", "4.7u", parts_.capacitanceFarads},
                           Part{"resistance", "ohm", "100k", parts_.resistanceOhms}}) {
    const std::string text = Value(part.name);
    const auto value = ParseEngineeringValue(text, part.unit);
    if (!value) {
      SetError("Invalid value '" + text + "' for --" + part.name +
               " (expected a positive number such as " + part.example + ": " +
               EngineeringValueProblem(text, part.unit) + ").");
      return false;
    }
    part.value = *value;
  }
  if (const std::string stray = Value("stray-capacitance"); !stray.empty()) {
    const auto value = ParseEngineeringValue(stray, "F");
    if (!value) {
      SetError("Invalid value '" + stray +
               "' for --stray-capacitance (expected a positive number such as 10p: " +
               EngineeringValueProblem(stray, "F") + ").");
      return false;
    }
    parts_.strayFarads = *value;
  }
  bool isNumber = false;
  const std::string chips = Value("chips");
  chips_ = QString::fromStdString(chips).toUInt(&isNumber);
  if (!isNumber || chips_ < 1 || chips_ > 16) {
    SetError("Invalid value '" + chips + "' for --chips (expected a count from 1 to 16).");
    return false;
  }
  return true;
}

DriverOptions SimCommandLine::Driver() const {
  DriverOptions options;
  options.trace = TracePath();
  options.chip = Chip();
  options.chips = chips_;
  options.simulate = true;
  options.parts = parts_;
  return options;
}

}  // namespace capmeter
