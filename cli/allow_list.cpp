#include "cli/allow_list.h"

#include <asio/ip/address.hpp>
#include <charconv>
#include <string>

namespace capmeter::cli {

namespace {

constexpr int kMappedPrefixBits = 96;

std::optional<std::array<std::uint8_t, 16>> AddressBytes(std::string_view text, bool* isV4) {
  asio::error_code error;
  const asio::ip::address address = asio::ip::make_address(std::string(text), error);
  if (error) return std::nullopt;
  if (isV4 != nullptr) *isV4 = address.is_v4();
  if (address.is_v4()) {
    return asio::ip::make_address_v6(asio::ip::v4_mapped, address.to_v4()).to_bytes();
  }
  return address.to_v6().to_bytes();
}

bool SameBits(const std::array<std::uint8_t, 16>& a, const std::array<std::uint8_t, 16>& b,
              int bits) {
  for (int i = 0; i < 16 && bits > 0; ++i, bits -= 8) {
    const auto mask = static_cast<std::uint8_t>(bits >= 8 ? 0xFF : 0xFF << (8 - bits));
    if ((a[i] & mask) != (b[i] & mask)) return false;
  }
  return true;
}

bool IsLoopback(const std::array<std::uint8_t, 16>& address) {
  static constexpr std::array<std::uint8_t, 16> kV6Loopback{0, 0, 0, 0, 0, 0, 0, 0,
                                                            0, 0, 0, 0, 0, 0, 0, 1};
  static constexpr std::array<std::uint8_t, 16> kV4Loopback{0, 0, 0, 0,    0,    0,  0,
                                                            0, 0, 0, 0xFF, 0xFF, 127};
  return address == kV6Loopback || SameBits(address, kV4Loopback, kMappedPrefixBits + 8);
}

}  // namespace

std::optional<AddressRange> ParseAddressRange(std::string_view text) {
  const std::size_t slash = text.find('/');
  bool isV4 = false;
  const auto address = AddressBytes(text.substr(0, slash), &isV4);
  if (!address) return std::nullopt;
  const int width = isV4 ? 32 : 128;
  int bits = width;
  if (slash != std::string_view::npos) {
    const std::string_view number = text.substr(slash + 1);
    const auto read = std::from_chars(number.data(), number.data() + number.size(), bits);
    if (number.empty() || read.ec != std::errc{} || read.ptr != number.data() + number.size() ||
        bits < 0 || bits > width) {
      return std::nullopt;
    }
  }
  AddressRange range{*address, bits + (isV4 ? kMappedPrefixBits : 0)};
  // Host bits beyond the prefix: 192.0.2.7/24 is not meant as written.
  AddressRange zeroed = range;
  for (int bit = range.bits; bit < 128; ++bit) {
    zeroed.address[bit / 8] &= static_cast<std::uint8_t>(~(0x80 >> (bit % 8)));
  }
  if (zeroed.address != range.address) return std::nullopt;
  return range;
}

bool AllowList::Allows(std::string_view peer) const {
  const auto address = AddressBytes(peer, nullptr);
  if (!address) return false;
  if (ranges_.empty() || IsLoopback(*address)) return true;
  for (const AddressRange& range : ranges_) {
    if (SameBits(range.address, *address, range.bits)) return true;
  }
  return false;
}

}  // namespace capmeter::cli
