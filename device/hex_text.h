#pragma once

#include <cstdint>
#include <string>

namespace capmeter {

// "0x" and lower-case hex digits, at least `digits` of them: pin bytes
// ("0x35") in the trace and the checks, handles ("0x1") in the trace.
inline std::string HexText(std::uintmax_t value, int digits = 2) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  do {
    text.insert(text.begin(), kDigits[value & 0xF]);
    value >>= 4;
    --digits;
  } while (value != 0 || digits > 0);
  return "0x" + text;
}

}  // namespace capmeter
