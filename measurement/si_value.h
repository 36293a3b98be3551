#pragma once

#include <optional>
#include <string_view>

#include "measurement/clock.h"

namespace capmeter {

// A part value as people write it: "4.7u", "+100k", "100K", "2.2e-6",
// "10 nF", "1kohm", "1MΩ". A number with '.' as the decimal point, an
// optional SI prefix (p, n, u or µ, m, k or K, M, G) and an optional unit
// (unit is "F", or "ohm" for ohm, ohms or Ω, any case). Empty unless the
// value is a positive finite number. The locale plays no part.
std::optional<double> ParseEngineeringValue(std::string_view text, std::string_view unit);

// A span of time the same way with the unit "s" ("125us", "1m", "0.5"), and
// "0" for none. Empty beyond a million seconds, surely a slip of the finger.
std::optional<Clock::Duration> ParseSeconds(std::string_view text);

}  // namespace capmeter
