#pragma once

#include <array>
#include <cstddef>
#include <optional>

// The pin buffer of one measurement and the test made on each read of it.
namespace capmeter {

// Each read stores the pin byte as the first character; the rest stay NUL.
using PinBuffer = std::array<char, 256>;

// The buffer's text (up to its first NUL) as a whole number: a digit
// character gives 0 to 9. The empty text or any other character is a parse
// failure. Only the first character is ever written, so the text is that one
// character or nothing.
constexpr std::optional<unsigned> PinDigit(char pin) {
  if (pin < '0' || pin > '9') {
    return std::nullopt;
  }
  return static_cast<unsigned>(pin - '0');
}

constexpr std::optional<unsigned> ParsePinText(const PinBuffer& strPins) {
  return PinDigit(strPins[0]);
}

// With D4 and D5 driven high every read-back byte is a digit character whose
// value has bit 1 set exactly while D1 is high.
constexpr bool ChargeGoesOn(unsigned pinValue) {
  return static_cast<unsigned char>(pinValue & 2U) == 2U;
}

}  // namespace capmeter
