#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace capmeter::cli {

// An address and its prefix length, IPv4 held as IPv4-mapped IPv6
// (::ffff:a.b.c.d, its bits plus 96), so that one comparison covers a peer
// that reaches an IPv6 listener over IPv4.
struct AddressRange {
  std::array<std::uint8_t, 16> address{};
  int bits = 128;
};

// "192.0.2.0/24", "fd00::/64", or an address alone (that host); none for
// anything else, host bits set included, which would hide a typing slip.
std::optional<AddressRange> ParseAddressRange(std::string_view text);

// Who may connect, checked at every accept on every listener. This machine
// (loopback) always may; others only inside a range. Empty: everyone, which
// serve allows only while it listens on loopback alone.
class AllowList {
 public:
  void Add(const AddressRange& range) { ranges_.push_back(range); }
  bool Empty() const { return ranges_.empty(); }

  // `peer` as an address text ("192.0.2.7", "::ffff:192.0.2.7", "fd00::3").
  bool Allows(std::string_view peer) const;

 private:
  std::vector<AddressRange> ranges_;
};

}  // namespace capmeter::cli
