#include "cli/values.h"

namespace capmeter::cli {

std::optional<double> ParseFarads(std::string_view text) {
  return ParseEngineeringValue(text, "F");
}

std::optional<double> ParseOhms(std::string_view text) {
  return ParseEngineeringValue(text, "ohm");
}

}  // namespace capmeter::cli
