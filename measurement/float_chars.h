#pragma once

#include <charconv>

namespace capmeter {

// std::from_chars and std::to_chars for floating point, with the standard
// library's results, also where the library lacks them (libc++ up to 19 has no
// from_chars for double, for instance). Both ignore the C locale, so a
// program that calls setlocale (as Qt does) still reads and writes '.'.

// The general format of std::from_chars: an optional '-', digits with an
// optional '.', an optional exponent; also inf, infinity and nan.
std::from_chars_result DoubleFromChars(const char* first, const char* last, double& value);

// format is fixed, scientific or general, with the given precision.
std::to_chars_result DoubleToChars(char* first, char* last, double value, std::chars_format format,
                                   int precision);
std::to_chars_result FloatToChars(char* first, char* last, float value, std::chars_format format,
                                  int precision);
// The shortest text that reads back as the same value, fixed or scientific,
// whichever is shorter (fixed on a tie), as std::to_chars without a format.
std::to_chars_result DoubleToChars(char* first, char* last, double value);
std::to_chars_result FloatToChars(char* first, char* last, float value);

// The stand-ins the functions above fall back to. Always built, so that tests
// can hold them against the standard library wherever it has the real ones.
namespace portable {

std::from_chars_result DoubleFromChars(const char* first, const char* last, double& value);
std::to_chars_result DoubleToChars(char* first, char* last, double value, std::chars_format format,
                                   int precision);
std::to_chars_result FloatToChars(char* first, char* last, float value, std::chars_format format,
                                  int precision);
std::to_chars_result DoubleToChars(char* first, char* last, double value);
std::to_chars_result FloatToChars(char* first, char* last, float value);

}  // namespace portable

}  // namespace capmeter
