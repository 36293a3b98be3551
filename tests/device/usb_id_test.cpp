#include "device/usb_id.h"

#include <gtest/gtest.h>

#include <optional>

namespace capmeter {
namespace {

struct IdCase {
  const char* text;
  std::optional<UsbId> id;
};

// As lsusb writes the ID and capmeter-allow-device takes it, and nothing else.
const IdCase kIdCases[] = {
    {"1234:5678", UsbId{0x1234, 0x5678}}, {"abCD:Ef09", UsbId{0xABCD, 0xEF09}},
    {"0000:ffff", UsbId{0x0000, 0xFFFF}}, {"1234:567", std::nullopt},
    {"12345:678", std::nullopt},          {"1234-5678", std::nullopt},
    {"12g4:5678", std::nullopt},          {"1234:5678:", std::nullopt},
    {"0x12:5678", std::nullopt},          {"", std::nullopt},
};

TEST(UsbId, ReadsFourAndFourHexadecimalDigits) {
  for (const IdCase& c : kIdCases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(UsbId::Parse(c.text), c.id);
  }
}

TEST(UsbId, WritesLowerCaseDigitsWithLeadingZeros) {
  EXPECT_EQ((UsbId{0x0A0B, 0x00CD}).Text(), "0a0b:00cd");
}

}  // namespace
}  // namespace capmeter
