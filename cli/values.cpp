#include "cli/values.h"

#include <chrono>
#include <cmath>

#include "measurement/si_value.h"

namespace capmeter::cli {

namespace {
// Longer spans than this are surely a slip of the finger (and would not fit
// the clock's nanoseconds much further up).
constexpr double kLongestSeconds = 1e6;
}  // namespace

std::optional<double> ParseFarads(std::string_view text) {
  return ParseEngineeringValue(text, "F");
}

std::optional<double> ParseOhms(std::string_view text) {
  return ParseEngineeringValue(text, "ohm");
}

std::optional<Clock::Duration> ParseSeconds(std::string_view text) {
  if (text == "0") {
    return Clock::Duration::zero();
  }
  const std::optional<double> seconds = ParseEngineeringValue(text, "s");
  if (!seconds || *seconds > kLongestSeconds) {
    return std::nullopt;
  }
  return std::chrono::duration_cast<Clock::Duration>(std::chrono::duration<double>(*seconds));
}

}  // namespace capmeter::cli
