#pragma once

#include <string>
#include <string_view>

namespace capmeter {

// The charge time as general text: at most seven significant digits (ties to
// even), no grouping, no trailing fraction zeros, a leading "0" below 1 and no
// separator for whole numbers. Like C's "%.7G": the exponent form, as in
// "1E-05" or "1.234568E+07", takes over when the decimal exponent is below -4
// or 7 and above. `decimalSeparator` is the user's locale's (any UTF-8 text).
// Infinities and NaN come out as "inf", "-inf" and "nan".
std::string GeneralText(float seconds, std::string_view decimalSeparator);

// The capacitance with the pattern "##.######": rounded to six decimals (ties
// to even), trailing fraction zeros dropped, no leading zero below 1, all
// integer digits, the separator always shown, "-" only when something other
// than zero remains after rounding. Not-finite values have no pattern form and
// come out as "inf", "-inf" and "nan"; callers show their own text for them.
std::string PatternText(double value, std::string_view decimalSeparator);

// The text of m or b for the windows' boxes: seven significant digits, "."
// as the decimal point whatever the locale, as those boxes read numbers.
std::string BoxText(double value);

}  // namespace capmeter
