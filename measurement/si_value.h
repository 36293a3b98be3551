#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "measurement/clock.h"

namespace capmeter {

// A complete number as the command lines and the monitor's boxes take it:
// an optional sign, digits with at most one '.', an optional exponent (e or
// E, a sign, digits), blanks around it; nothing else ("9,0909", "abc", "1e",
// "0x10", "inf"), and nothing beyond the double range. The locale plays no
// part. Unlike the window's lenient m and b (measurement/lenient_number.h),
// a text it refuses is no number at all.
std::optional<double> ParseNumber(std::string_view text);
// Why ParseNumber refuses `text`, in a few words for a message; empty when it
// reads.
std::string NumberProblem(std::string_view text);

// A part value as people write it: "4.7u", "+100k", "100K", "2.2e-6",
// "10 nF", "1kohm", "1MΩ". A number as ParseNumber reads it, an optional SI
// prefix (p, n, u or µ, m, k or K, M, G: case counts, m is milli and M mega)
// and an optional unit (unit is "F", "S/s" or Hz for a rate, or "ohm" for
// ohm, ohms or Ω, any case). Empty unless the value is a positive finite
// number.
std::optional<double> ParseEngineeringValue(std::string_view text, std::string_view unit);
// Why ParseEngineeringValue refuses `text` ("N is no SI prefix ..."); empty
// when it reads.
std::string EngineeringValueProblem(std::string_view text, std::string_view unit);

// A span of time the same way with the unit "s" ("125us", "1m", "0.5"), and
// "0" for none. Empty beyond a million seconds, surely a slip of the finger.
std::optional<Clock::Duration> ParseSeconds(std::string_view text);

}  // namespace capmeter
