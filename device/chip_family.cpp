#include "device/chip_family.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>

namespace capmeter {

namespace {

// Sources, named once and cited by letter in the table below:
// [K] the Linux kernel's USB serial driver for this family: its chip-type
//     table (which bcdDevice is which chip) and its baud divisor functions
//     (3 MHz in eighths; 12 MHz with bit 17 from 1200 baud up on the
//     high-speed chips; the oldest chip's coarser eighths);
// [L] the open-source C library for this chip family, its baud conversion:
//     the port in wIndex on the multi-port and
//     high-speed chips;
// [P] the open-source Python driver for this chip family: its FIFO sizes by
//     bcdDevice, its list of the high-speed chips, and its
//     bit-bang clock of 16 samples per baud of 3 MHz (BITBANG_BAUDRATE_RATIO_BASE)
//     and 5 per baud of 12 MHz (BITBANG_BAUDRATE_RATIO_HIGH);
// [S] sigrok's rewritten logic-analyser driver for this family (its pull
//     request 145): the high-speed bit-bang clock is 60 MHz over the
//     divisor whatever bit 17 says, and the older full-speed chips' bit-bang
//     timing erratum, pulses of 60 µs to 1 ms where 1 ms was asked, which
//     the newer full-speed family is free of;
// [D] the vendor's D2XX programmer's guide: the FT_DEVICE numbers that
//     FT_GetDeviceInfoDetail reports;
// [B] the USB 2.0 standard: 64-byte full-speed and 512-byte
//     high-speed bulk packets, and about 1.2 MB/s of full-speed bulk data.
//
// The default rate leaves the bus half its room, so a busy host does not
// fill the chip's FIFO; the highest is what the bus carries [B].
constexpr double kFullSpeedDefault = 500e3;
constexpr double kFullSpeedHighest = 1e6;
constexpr double kHighSpeedDefault = 1e6;
constexpr double kHighSpeedHighest = 12e6;
constexpr double kFullSpeedClock = 48e6;  // 16 x 3 MHz [P]
constexpr double kHighSpeedClock = 60e6;  // 5 x 12 MHz [P], [S]
constexpr double kErratic = 0.06;         // 60 µs of 1 ms [S]
constexpr double kSteady = 1.0;

// bcdDevice and chip [K]; device type [D]; FIFOs [P], the newer high-speed
// chips' not published there, so the largest of the high-speed family's,
// which allows most in flight; packet sizes [B]; eighths and port [K], [L];
// clock and erratum [P], [S]. The oldest chip's clock is taken as erratic
// too: nothing published says otherwise.
constexpr std::array<ChipFamily, 16> kFamilies = {{
    {"the oldest full-speed chip", 0x0200, 1, BusSpeed::Full, 64, 128, 128, false, true, false,
     kFullSpeedClock, kErratic, kFullSpeedDefault, kFullSpeedHighest},
    {"the older single-port full-speed chip", 0x0400, 0, BusSpeed::Full, 64, 384, 128, false, false,
     false, kFullSpeedClock, kErratic, kFullSpeedDefault, kFullSpeedHighest},
    {"the older dual-port full-speed chip", 0x0500, 4, BusSpeed::Full, 64, 384, 128, false, false,
     true, kFullSpeedClock, kErratic, kFullSpeedDefault, kFullSpeedHighest},
    {"the single-port full-speed chip with its own clock", 0x0600, 5, BusSpeed::Full, 64, 128, 256,
     false, false, false, kFullSpeedClock, kErratic, kFullSpeedDefault, kFullSpeedHighest},
    {"the dual-port high-speed chip", 0x0700, 6, BusSpeed::High, 512, 4096, 4096, true, false, true,
     kHighSpeedClock, kSteady, kHighSpeedDefault, kHighSpeedHighest},
    {"the quad-port high-speed chip", 0x0800, 7, BusSpeed::High, 512, 2048, 2048, true, false, true,
     kHighSpeedClock, kSteady, kHighSpeedDefault, kHighSpeedHighest},
    {"the single-port high-speed chip", 0x0900, 8, BusSpeed::High, 512, 1024, 1024, true, false,
     true, kHighSpeedClock, kSteady, kHighSpeedDefault, kHighSpeedHighest},
    {"the newer full-speed family", 0x1000, 9, BusSpeed::Full, 64, 512, 512, false, false, false,
     kFullSpeedClock, kSteady, kFullSpeedDefault, kFullSpeedHighest},
    {"the newer dual-port high-speed chip with a hub", 0x2800, 17, BusSpeed::High, 512, 4096, 4096,
     true, false, true, kHighSpeedClock, kSteady, kHighSpeedDefault, kHighSpeedHighest},
    {"the newer quad-port high-speed chip with a hub", 0x2900, 18, BusSpeed::High, 512, 4096, 4096,
     true, false, true, kHighSpeedClock, kSteady, kHighSpeedDefault, kHighSpeedHighest},
    {"the newer dual-port high-speed chip", 0x3000, 19, BusSpeed::High, 512, 4096, 4096, true,
     false, true, kHighSpeedClock, kSteady, kHighSpeedDefault, kHighSpeedHighest},
    {"the newer quad-port high-speed chip", 0x3100, 20, BusSpeed::High, 512, 4096, 4096, true,
     false, true, kHighSpeedClock, kSteady, kHighSpeedDefault, kHighSpeedHighest},
    {"the newer single-port high-speed chip with a hub", 0x3200, 21, BusSpeed::High, 512, 4096,
     4096, true, false, true, kHighSpeedClock, kSteady, kHighSpeedDefault, kHighSpeedHighest},
    {"the newer single-port high-speed chip", 0x3300, 22, BusSpeed::High, 512, 4096, 4096, true,
     false, true, kHighSpeedClock, kSteady, kHighSpeedDefault, kHighSpeedHighest},
    {"the automotive dual-port high-speed chip", 0x3500, 23, BusSpeed::High, 512, 4096, 4096, true,
     false, true, kHighSpeedClock, kSteady, kHighSpeedDefault, kHighSpeedHighest},
    {"the automotive quad-port high-speed chip", 0x3600, 24, BusSpeed::High, 512, 2048, 2048, true,
     false, true, kHighSpeedClock, kSteady, kHighSpeedDefault, kHighSpeedHighest},
}};

constexpr std::size_t kFallback = 3;  // 0x0600: the older full-speed chips' rules
static_assert(kFamilies[kFallback].bcdDevice == 0x0600);

constexpr double kThreeMegahertz = 3e6;    // 48 MHz / 16 [K]
constexpr double kTwelveMegahertz = 12e6;  // 120 MHz / 10 [K]
constexpr std::uint32_t kTwelveMegahertzBit = 1U << 17;
constexpr std::uint32_t kLowestTwelveMegahertzBaud = 1200;  // [K]
constexpr std::uint32_t kLargestEighths = (0x3FFF << 3) | 7;
// The code in bits 14 to 16 for each eighth, and back [K].
constexpr std::array<std::uint32_t, 8> kEighthCode = {0, 3, 2, 4, 1, 5, 6, 7};
constexpr std::array<std::uint32_t, 8> kCodeEighths = {0, 4, 2, 1, 3, 5, 6, 7};

// The divisor of `base` for `baudRate` in eighths, rounded to the nearest.
std::uint32_t Eighths(double base, std::uint32_t baudRate) {
  const double eighths = std::round(8.0 * base / std::max<std::uint32_t>(baudRate, 1));
  return static_cast<std::uint32_t>(std::clamp(eighths, 8.0, double{kLargestEighths}));
}

std::uint32_t Encode(std::uint32_t eighths, bool coarse) {
  if (coarse) {
    // Only 0, 1/8, 1/4 and 1/2; 7/8 goes up to the next whole [K].
    if ((eighths & 7) == 7) ++eighths;
    const std::uint32_t part = eighths & 7;
    eighths = (eighths & ~7U) | (part >= 4 ? 4 : part >= 2 ? 2 : part);
  }
  std::uint32_t encoded = (eighths >> 3) | kEighthCode[eighths & 7] << 14;
  if (encoded == 1) return 0;       // 1: the base itself
  if (encoded == 0x4001) return 1;  // 1.5
  return encoded;
}

bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

}  // namespace

std::span<const ChipFamily> ChipFamilies() {
  return kFamilies;
}

std::string BcdText(std::uint16_t bcdDevice) {
  std::array<char, 8> text{};
  std::snprintf(text.data(), text.size(), "0x%04X", bcdDevice);
  return text.data();
}

std::string ChipFamily::Describe() const {
  return std::string(name) + " (bcdDevice " + BcdText(bcdDevice) + ")";
}

std::string FamilyReport::Text() const {
  return known ? family->Describe() + ", " + how : "taken as " + family->Describe() + ": " + how;
}

const ChipFamily* FamilyForBcdDevice(std::uint16_t bcdDevice) {
  const auto found =
      std::find_if(kFamilies.begin(), kFamilies.end(),
                   [bcdDevice](const ChipFamily& f) { return f.bcdDevice == bcdDevice; });
  return found == kFamilies.end() ? nullptr : &*found;
}

const ChipFamily* FamilyForDeviceType(std::uint32_t deviceType) {
  const auto found =
      std::find_if(kFamilies.begin(), kFamilies.end(),
                   [deviceType](const ChipFamily& f) { return f.deviceType == deviceType; });
  return found == kFamilies.end() ? nullptr : &*found;
}

const ChipFamily& FallbackFamily() {
  return kFamilies[kFallback];
}

const ChipFamily* FamilyFromText(std::string_view text) {
  if (SameText(text, "full-speed")) return FamilyForBcdDevice(0x1000);
  if (SameText(text, "high-speed")) return FamilyForBcdDevice(0x0900);
  if (SameText(text, "older")) return &FallbackFamily();
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
  }
  if (text.empty() || text.size() > 4 || !std::all_of(text.begin(), text.end(), [](char c) {
        return std::isxdigit(static_cast<unsigned char>(c)) != 0;
      })) {
    return nullptr;
  }
  return FamilyForBcdDevice(static_cast<std::uint16_t>(std::stoul(std::string(text), nullptr, 16)));
}

BaudDivisor EncodeBaud(const ChipFamily& family, std::uint32_t baudRate, std::uint8_t port) {
  std::uint32_t encoded = 0;
  if (family.twelveMegahertzBase && baudRate >= kLowestTwelveMegahertzBaud) {
    encoded = Encode(Eighths(kTwelveMegahertz, baudRate), false) | kTwelveMegahertzBit;
  } else {
    encoded = Encode(Eighths(kThreeMegahertz, baudRate), family.coarseEighths);
  }
  const auto value = static_cast<std::uint16_t>(encoded & 0xFFFF);
  if (family.portInIndex) {
    return {value, static_cast<std::uint16_t>(((encoded >> 8) & 0xFF00) | port)};
  }
  return {value, static_cast<std::uint16_t>(encoded >> 16)};
}

double DecodeDivisor(const ChipFamily& family, BaudDivisor divisor) {
  const std::uint32_t high = family.portInIndex ? divisor.index >> 8 : divisor.index;
  const std::uint32_t encoded = (divisor.value | high << 16) & ~kTwelveMegahertzBit;
  const std::uint32_t whole = encoded & 0x3FFF;
  const std::uint32_t code = (encoded >> 14) & (family.coarseEighths ? 3 : 7);
  if (code == 0 && whole <= 1) {
    return whole == 0 ? 1.0 : 1.5;
  }
  return std::max(1.0, whole + kCodeEighths[code] / 8.0);
}

double SampleRateForBaud(const ChipFamily& family, std::uint32_t baudRate) {
  return family.bitBangClockHz / DecodeDivisor(family, EncodeBaud(family, baudRate));
}

std::uint32_t BaudForSampleRate(const ChipFamily& family, double samplesPerSecond) {
  const auto baudFor = [&](double base) {
    const double baud = std::round(samplesPerSecond * base / family.bitBangClockHz);
    return static_cast<std::uint32_t>(std::clamp(baud, 1.0, base));
  };
  if (family.twelveMegahertzBase) {
    if (const std::uint32_t baud = baudFor(kTwelveMegahertz); baud >= kLowestTwelveMegahertzBaud) {
      return baud;
    }
  }
  return baudFor(kThreeMegahertz);
}

}  // namespace capmeter
