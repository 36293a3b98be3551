// Who may connect: address ranges as typed, and peers as the listener sees them.
#include "cli/allow_list.h"

#include <gtest/gtest.h>

namespace capmeter::cli {
namespace {

TEST(AllowList, RangesAsTypedAndPeersOverIpv4AndIpv6) {
  AllowList allow;
  for (const char* range : {"192.0.2.0/24", "fd00::/64", "203.0.113.9"}) {
    ASSERT_TRUE(ParseAddressRange(range)) << range;
    allow.Add(*ParseAddressRange(range));
  }
  const struct {
    const char* peer;
    bool allowed;
  } peers[] = {
      {"192.0.2.7", true},
      {"::ffff:192.0.2.7", true},  // an IPv4 peer on an IPv6 listener
      {"192.0.3.7", false},
      {"::ffff:192.0.3.7", false},
      {"fd00::3", true},
      {"fd00:0:0:1::3", false},
      {"203.0.113.9", true},
      {"203.0.113.10", false},
      {"127.0.0.1", true},  // this machine always may
      {"127.5.6.7", true},
      {"::1", true},
      {"::ffff:127.0.0.1", true},
      {"::c000:207", false},  // the old IPv4-compatible form is not IPv4
      {"not an address", false},
  };
  for (const auto& p : peers) {
    EXPECT_EQ(allow.Allows(p.peer), p.allowed) << p.peer;
  }
}

TEST(AllowList, ATypingSlipIsNoRange) {
  for (const char* text : {"192.0.2.7/24", "192.0.2.0/33", "fd00::1/64", "fd00::/129", "192.0.2.0/",
                           "192.0.2.0/-1", "192.0.2.0/24x", "", "host.example"}) {
    EXPECT_FALSE(ParseAddressRange(text)) << text;
  }
  EXPECT_TRUE(ParseAddressRange("0.0.0.0/0"));
  EXPECT_TRUE(ParseAddressRange("::/0"));
}

}  // namespace
}  // namespace capmeter::cli
