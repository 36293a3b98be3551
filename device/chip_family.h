#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace capmeter {

// The bus a family sits on.
enum class BusSpeed { Full, High };

// What the program must know of one family of the interface chip to stream
// its pins: how it is recognised, its bus and FIFOs, its baud clock and what
// its asynchronous bit-bang sample clock makes of a divisor. Every family
// is one row of ChipFamilies(); each fact there says where it is published.
struct ChipFamily {
  std::string_view name;     // in plain words
  std::uint16_t bcdDevice;   // as its device descriptor gives it
  std::uint32_t deviceType;  // as FT_GetDeviceInfoDetail reports it
  BusSpeed speed;
  std::uint16_t packetSize;    // bulk IN wMaxPacketSize
  std::uint16_t fifoToHost;    // the chip's FIFO the samples wait in
  std::uint16_t fifoFromHost;  // the one written bytes wait in
  // The divisor may also divide 12 MHz (bit 17 of the encoded divisor)
  // rather than 3 MHz only.
  bool twelveMegahertzBase;
  // Only whole divisors and the eighths 1/8, 1/4 and 1/2.
  bool coarseEighths;
  // The port goes in wIndex's low byte, the divisor's high bits above it.
  bool portInIndex;
  // The asynchronous bit-bang sample clock: this over the divisor, whichever
  // base the divisor was meant for.
  double bitBangClockHz;
  // The bit-bang clock's erratum: each run of samples takes a period
  // anywhere from this fraction of the one set to the one set; 1 where the
  // clock holds its period and can be trusted for timing.
  double shortestPeriodFraction;
  double defaultSampleRate;
  double highestSampleRate;

  bool ClockTrusted() const { return shortestPeriodFraction >= 1.0; }
  // "the single-port high-speed chip (bcdDevice 0x0900)"
  std::string Describe() const;
};

// Every family the program knows, oldest first.
std::span<const ChipFamily> ChipFamilies();
// The family of a chip with this bcdDevice; empty for one not in the table.
const ChipFamily* FamilyForBcdDevice(std::uint16_t bcdDevice);
// The family of a device type FT_GetDeviceInfoDetail reports; empty for
// one not in the table.
const ChipFamily* FamilyForDeviceType(std::uint32_t deviceType);
// What an unknown chip is taken for: the older full-speed chips, whose
// clock is least trusted and whose bus carries least.
const ChipFamily& FallbackFamily();
// "0x0900", "900", "high-speed" style names people give for a family, as
// --family takes them; empty otherwise.
const ChipFamily* FamilyFromText(std::string_view text);
// "0x0900"
std::string BcdText(std::uint16_t bcdDevice);

// Which family a driver found its open chip to be, and how it knows.
struct FamilyReport {
  const ChipFamily* family = &FallbackFamily();
  bool known = false;
  // "bcdDevice 0x0900", or why the family is not known
  std::string how;

  // The family in words, as the program says which chip it streams from.
  std::string Text() const;
};

// SET_BAUD_RATE's wValue and wIndex.
struct BaudDivisor {
  std::uint16_t value = 0;
  std::uint16_t index = 0;

  bool operator==(const BaudDivisor&) const = default;
};

// The divisor the driver sends for `baudRate` on `family`, as the vendor's
// library and the kernel's serial driver choose it: 12 MHz where the family
// has it and the baud is at least 1200, else 3 MHz; the nearest divisor in
// eighths; the port in wIndex where the family wants it.
BaudDivisor EncodeBaud(const ChipFamily& family, std::uint32_t baudRate, std::uint8_t port = 1);
// The divisor an encoded wValue and wIndex stand for, as the family's
// silicon reads it: bit 17 is ignored in bit-bang mode.
double DecodeDivisor(const ChipFamily& family, BaudDivisor divisor);
// The sample rate the family's bit-bang clock runs at for `baudRate`.
double SampleRateForBaud(const ChipFamily& family, std::uint32_t baudRate);
// The baud rate whose sample rate is nearest `samplesPerSecond` on `family`.
std::uint32_t BaudForSampleRate(const ChipFamily& family, double samplesPerSecond);

}  // namespace capmeter
