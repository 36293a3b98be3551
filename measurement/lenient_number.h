#pragma once

#include <string_view>

namespace capmeter {

// Reads m or b the lenient way: blanks (space, tab, line feed) anywhere are
// dropped; the longest leading number counts (sign, digits with at most one
// period, exponent with E or D; &H hexadecimal and &O octal whole numbers);
// no number gives 0. Only the period is a decimal separator. Never fails.
// &H and &O numbers are non-negative whatever their length (no 16- or 32-bit
// wrap). Results are rounded to the nearest double (ties to even); beyond the
// double range they are infinite. The locale plays no part, and time is
// linear in the text's length with constant extra memory.
double LenientNumber(std::string_view text);

}  // namespace capmeter
