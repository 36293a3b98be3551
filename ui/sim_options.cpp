#include "ui/sim_options.h"

#include <charconv>
#include <cmath>

namespace capmeter {

namespace {

struct Prefix {
  std::string_view symbol;
  double factor;
};

constexpr Prefix kPrefixes[] = {{"p", 1e-12}, {"n", 1e-9}, {"u", 1e-6}, {"\xC2\xB5", 1e-6},
                                {"m", 1e-3},  {"k", 1e3},  {"M", 1e6},  {"G", 1e9}};

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

bool IsUnit(std::string_view rest, std::string_view unit) {
  if (unit == "ohm") {
    return EqualsIgnoringCase(rest, "ohm") || EqualsIgnoringCase(rest, "ohms") ||
           rest == "\xCE\xA9";
  }
  return EqualsIgnoringCase(rest, unit);
}

}  // namespace

std::optional<double> ParseEngineeringValue(std::string_view text, std::string_view unit) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  double number = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (error != std::errc() || !std::isfinite(number) || number <= 0) {
    return std::nullopt;
  }
  std::string_view rest = text.substr(static_cast<std::size_t>(end - text.data()));
  while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
  if (rest.empty() || IsUnit(rest, unit)) {
    return number;
  }
  for (const Prefix& prefix : kPrefixes) {
    if (rest.substr(0, prefix.symbol.size()) == prefix.symbol) {
      const std::string_view tail = rest.substr(prefix.symbol.size());
      if (tail.empty() || IsUnit(tail, unit)) {
        const double value = number * prefix.factor;
        return std::isfinite(value) && value > 0 ? std::optional<double>(value) : std::nullopt;
      }
    }
  }
  return std::nullopt;
}

std::string SimUsage() {
  return "Usage: capmeter-sim [--capacitance VALUE] [--resistance VALUE] [--help]\n"
         "\n"
         "The capacitance meter on a simulated USB chip and timing circuit. The\n"
         "circuit holds D1 high for 1.1 x R x C after each trigger.\n"
         "\n"
         "  --capacitance VALUE  the capacitor under test, in farads (default 4.7u)\n"
         "  --resistance VALUE   the timing resistor, in ohms (default 100k)\n"
         "  --help               show this text and exit\n"
         "\n"
         "Values take an SI prefix: p, n, u, m, k, M, G (e.g. 4.7u, 100k, 2.2e-6).\n"
         "With the defaults, m = 9.0909 and b = 0 make the meter read about 4.7.\n";
}

SimOptionsResult ParseSimOptions(const std::vector<std::string>& arguments) {
  SimOptions options;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    std::string name = arguments[i];
    std::optional<std::string> value;
    if (const auto equals = name.find('=');
        name.rfind("--", 0) == 0 && equals != std::string::npos) {
      value = name.substr(equals + 1);
      name.resize(equals);
    }
    if (name == "--help" || name == "-h") {
      options.showHelp = true;
      continue;
    }
    const bool isCapacitance = name == "--capacitance";
    if (!isCapacitance && name != "--resistance") {
      return {std::nullopt, "unknown option '" + arguments[i] + "'"};
    }
    if (!value) {
      if (i + 1 >= arguments.size()) {
        return {std::nullopt, name + " needs a value"};
      }
      value = arguments[++i];
    }
    const auto parsed = ParseEngineeringValue(*value, isCapacitance ? "F" : "ohm");
    if (!parsed) {
      return {std::nullopt, "invalid value '" + *value + "' for " + name +
                                " (expected a positive number such as " +
                                (isCapacitance ? "4.7u" : "100k") + ")"};
    }
    (isCapacitance ? options.parts.capacitanceFarads : options.parts.resistanceOhms) = *parsed;
  }
  return {options, {}};
}

}  // namespace capmeter
