#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace capmeter {

// A USB device's vendor and product ID, written as lsusb shows them and
// capmeter-allow-device takes them: "vvvv:pppp", four hexadecimal digits each.
struct UsbId {
  std::uint16_t vendor = 0;
  std::uint16_t product = 0;

  // Exactly four and four hexadecimal digits around one colon, either case.
  static std::optional<UsbId> Parse(std::string_view text);
  // Lower-case digits, as lsusb writes them.
  std::string Text() const;

  bool operator==(const UsbId&) const = default;
};

}  // namespace capmeter
