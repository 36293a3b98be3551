#include "cli/values.h"

namespace capmeter::cli {

std::optional<double> ParseFarads(std::string_view text) {
  return ParseEngineeringValue(text, "F");
}

std::optional<double> ParseOhms(std::string_view text) {
  return ParseEngineeringValue(text, "ohm");
}

std::optional<double> ParseClockJitter(std::string_view text) {
  const std::optional<double> fraction = ParseNumber(text);
  if (!fraction || *fraction < 0.0 || *fraction > 0.5) return std::nullopt;
  return fraction;
}

}  // namespace capmeter::cli
