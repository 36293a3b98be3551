#include "cli/values.h"

#include "measurement/stream_timing.h"

namespace capmeter::cli {

std::optional<double> ParseFarads(std::string_view text) {
  return ParseEngineeringValue(text, "F");
}

std::optional<double> ParseOhms(std::string_view text) {
  return ParseEngineeringValue(text, "ohm");
}

std::optional<double> ParseSampleRate(std::string_view text) {
  const std::optional<double> rate = ParseEngineeringValue(text, "S/s");
  if (!rate || *rate < kSlowestSampleRate || *rate > kFastestSampleRate) {
    return std::nullopt;
  }
  return rate;
}

}  // namespace capmeter::cli
