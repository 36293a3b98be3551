#include "device/usb_id.h"

#include "device/hex_text.h"

namespace capmeter {

namespace {

constexpr int kDigits = 4;

std::optional<std::uint16_t> FourHexDigits(std::string_view text) {
  if (text.size() != static_cast<std::size_t>(kDigits)) {
    return std::nullopt;
  }
  unsigned value = 0;
  for (const char c : text) {
    unsigned digit = 0;
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      digit = static_cast<unsigned>(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'F') {
      digit = static_cast<unsigned>(c - 'A' + 10);
    } else {
      return std::nullopt;
    }
    value = value * 16 + digit;
  }
  return static_cast<std::uint16_t>(value);
}

}  // namespace

std::optional<UsbId> UsbId::Parse(std::string_view text) {
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos) {
    return std::nullopt;
  }
  const auto vendor = FourHexDigits(text.substr(0, colon));
  const auto product = FourHexDigits(text.substr(colon + 1));
  if (!vendor || !product) {
    return std::nullopt;
  }
  return UsbId{*vendor, *product};
}

std::string UsbId::Text() const {
  return HexText(vendor, kDigits).substr(2) + ":" + HexText(product, kDigits).substr(2);
}

}  // namespace capmeter
