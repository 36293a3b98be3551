#include "measurement/result_text.h"

#include <array>
#include <charconv>
#include <cmath>

namespace capmeter {

namespace {

// The number writers always write '.' and ignores the C locale, so the user's
// separator goes in here and nowhere else.
std::string WithSeparator(std::string_view text, std::string_view decimalSeparator) {
  std::string out;
  out.reserve(text.size() + decimalSeparator.size());
  for (const char c : text) {
    if (c == '.') {
      out += decimalSeparator;
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

std::string GeneralText(float seconds, std::string_view decimalSeparator) {
  if (seconds == 0.0F) seconds = 0.0F;  // no "-0"
  // "-1.234568e+38" is the longest finite text.
  std::array<char, 32> buffer{};
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), seconds,
                                    std::chars_format::general, 7);
  std::string text = WithSeparator({buffer.data(), result.ptr}, decimalSeparator);
  for (char& c : text) {
    if (c == 'e') c = 'E';
  }
  return text;
}

std::string PatternText(double value, std::string_view decimalSeparator) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";

  // The largest double has 309 integer digits; with sign, point and six
  // decimals that is well within the buffer.
  std::array<char, 330> buffer{};
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                    std::chars_format::fixed, 6);
  std::string_view digits(buffer.data(), static_cast<std::size_t>(result.ptr - buffer.data()));
  const bool negative = digits.front() == '-';
  if (negative) digits.remove_prefix(1);
  const std::size_t point = digits.find('.');
  std::string_view whole = digits.substr(0, point);
  std::string_view fraction = digits.substr(point + 1);
  while (!fraction.empty() && fraction.back() == '0') fraction.remove_suffix(1);
  if (whole == "0") whole = {};

  std::string out;
  // A "-" in front of a bare separator would claim a negative zero.
  if (negative && !(whole.empty() && fraction.empty())) out += '-';
  out += whole;
  out += decimalSeparator;
  out += fraction;
  return out;
}

std::string BoxText(double value) {
  if (value == 0.0) {
    return "0";  // also -0
  }
  std::array<char, 64> buffer{};
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                    std::chars_format::general, 7);
  return std::string(buffer.data(), result.ptr);
}

}  // namespace capmeter
