#include "cli/values.h"

#include <system_error>

#include "measurement/float_chars.h"

namespace capmeter::cli {

std::optional<double> ParseFarads(std::string_view text) {
  return ParseEngineeringValue(text, "F");
}

std::optional<double> ParseOhms(std::string_view text) {
  return ParseEngineeringValue(text, "ohm");
}

std::optional<double> ParseClockJitter(std::string_view text) {
  double fraction = 0.0;
  const auto end = text.data() + text.size();
  const auto read = DoubleFromChars(text.data(), end, fraction);
  if (read.ec != std::errc{} || read.ptr != end || !(fraction >= 0.0 && fraction <= 0.5)) {
    return std::nullopt;
  }
  return fraction;
}

}  // namespace capmeter::cli
