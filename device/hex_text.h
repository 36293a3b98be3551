#pragma once

#include <cstdint>
#include <string>

namespace capmeter {

// `value` in lower-case hexadecimal digits, at least `digits` of them, with
// no prefix: the one way the program writes bytes, handles and USB IDs.
inline std::string HexDigits(std::uintmax_t value, int digits) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  do {
    text.insert(text.begin(), kDigits[value & 0xF]);
    value >>= 4;
    --digits;
  } while (value != 0 || digits > 0);
  return text;
}

// A byte as "0x3f".
inline std::string HexByte(std::uint8_t value) {
  return "0x" + HexDigits(value, 2);
}

}  // namespace capmeter
