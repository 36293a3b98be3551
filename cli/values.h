#pragma once

#include <optional>
#include <string_view>

#include "measurement/si_value.h"

namespace capmeter::cli {

// Values with an SI prefix, read by the same rules as capmeter-sim's options
// (measurement/si_value.h): "4.7u", "100k", "2.2e-6", "10 nF"; spans of time
// ("125us") by ParseSeconds there. Empty when not a positive finite number
// with a known prefix and unit.
std::optional<double> ParseFarads(std::string_view text);
std::optional<double> ParseOhms(std::string_view text);
// The simulated sample clock's jitter, a fraction of its period from 0 to
// 0.5 ("0.05").
std::optional<double> ParseClockJitter(std::string_view text);

}  // namespace capmeter::cli
