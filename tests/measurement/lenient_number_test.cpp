#include "measurement/lenient_number.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <ostream>
#include <string>

namespace capmeter {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

struct NumberCase {
  std::string text;
  double expected;
};

// Test names carry the text, so control and non-ASCII bytes are escaped.
void PrintTo(const NumberCase& c, std::ostream* os) {
  *os << '"';
  for (const char ch : c.text) {
    const auto byte = static_cast<unsigned char>(ch);
    if (byte >= 0x20 && byte < 0x7f) {
      *os << ch;
    } else {
      constexpr char kHex[] = "0123456789abcdef";
      *os << "\\x" << kHex[byte >> 4] << kHex[byte & 0xf];
    }
  }
  *os << '"';
}

class LenientNumberReads : public ::testing::TestWithParam<NumberCase> {};

TEST_P(LenientNumberReads, TheLongestLeadingNumber) {
  const NumberCase& c = GetParam();
  const double value = LenientNumber(c.text);
  EXPECT_EQ(value, c.expected);
  EXPECT_EQ(std::signbit(value), std::signbit(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Decimal, LenientNumberReads,
    ::testing::Values(NumberCase{"2.5x", 2.5}, NumberCase{"1e3", 1000.0}, NumberCase{".5", 0.5},
                      NumberCase{"5.", 5.0}, NumberCase{"1D2", 100.0}, NumberCase{"1d-2", 0.01},
                      NumberCase{"1E+02", 100.0}, NumberCase{"+.5e-1", 0.05},
                      NumberCase{"-.5", -0.5}, NumberCase{"5.e1", 50.0}, NumberCase{"12abc", 12.0},
                      NumberCase{"1.2.3", 1.2}, NumberCase{"1..5", 1.0}, NumberCase{"1e5e5", 1e5},
                      NumberCase{"0.1", 0.1}, NumberCase{"007", 7.0},
                      NumberCase{"0.00012345", 0.00012345},
                      NumberCase{"4e-320", 4e-320},  // subnormal, not flushed to zero
                      NumberCase{"1.7976931348623157e308", 1.7976931348623157e308}));

INSTANTIATE_TEST_SUITE_P(
    UnfinishedParts, LenientNumberReads,
    ::testing::Values(NumberCase{"1e", 1.0}, NumberCase{"1e+", 1.0}, NumberCase{"1e-", 1.0},
                      NumberCase{"1ex5", 1.0}, NumberCase{"-", 0.0}, NumberCase{"+", 0.0},
                      NumberCase{".", 0.0}, NumberCase{"-.", 0.0}, NumberCase{".e5", 0.0},
                      NumberCase{"e5", 0.0}, NumberCase{"D5", 0.0}, NumberCase{"++1", 0.0},
                      NumberCase{"+-1", 0.0}, NumberCase{"--1", 0.0}, NumberCase{"", 0.0},
                      NumberCase{"abc", 0.0}, NumberCase{"x1", 0.0}, NumberCase{"0x10", 0.0}));

INSTANTIATE_TEST_SUITE_P(Zeros, LenientNumberReads,
                         ::testing::Values(NumberCase{"0", 0.0}, NumberCase{"0.000", 0.0},
                                           NumberCase{"-0", -0.0}, NumberCase{"-0.0e9", -0.0},
                                           NumberCase{"0e999999", 0.0}, NumberCase{"&H0", 0.0}));

INSTANTIATE_TEST_SUITE_P(
    BlanksAndSeparators, LenientNumberReads,
    ::testing::Values(NumberCase{"1 2", 12.0}, NumberCase{"  \t\n-\t1 . 2 5 e\n1 ", -12.5},
                      NumberCase{"- 3", -3.0}, NumberCase{"1,5", 1.0}, NumberCase{",5", 0.0},
                      NumberCase{"1\r2", 1.0},  // carriage return is not a blank
                      NumberCase{"1\v2", 1.0},
                      NumberCase{std::string("1\0"
                                             "2",
                                             3),
                                 1.0},
                      NumberCase{"1\xc2\xa0"
                                 "2",
                                 1.0},  // no-break space
                      NumberCase{"& H 1 0", 16.0}));

INSTANTIATE_TEST_SUITE_P(
    HexAndOctal, LenientNumberReads,
    ::testing::Values(NumberCase{"&H10", 16.0}, NumberCase{"&h1F", 31.0},
                      NumberCase{"&HfFx", 255.0}, NumberCase{"&o17", 15.0},
                      NumberCase{"&O178", 15.0}, NumberCase{"&O8", 0.0}, NumberCase{"&H", 0.0},
                      NumberCase{"&", 0.0}, NumberCase{"&X1", 0.0}, NumberCase{"-&H10", 0.0},
                      NumberCase{"&H1.5", 1.0}, NumberCase{"&H1e2", 0x1e2},
                      // No wrap into negative values at 16 or 32 bits.
                      NumberCase{"&H8000", 32768.0}, NumberCase{"&HFFFF", 65535.0},
                      NumberCase{"&O177777", 65535.0}, NumberCase{"&HFFFFFFFF", 4294967295.0},
                      NumberCase{"&H0000000000000000000000001", 1.0},
                      // Beyond 53 bits: round to nearest, ties to even.
                      NumberCase{"&H20000000000001", 9007199254740992.0},
                      NumberCase{"&H20000000000003", 9007199254740996.0},
                      NumberCase{"&HFFFFFFFFFFFFFFFF", 18446744073709551616.0},
                      NumberCase{"&O1777777777777777777777", 18446744073709551616.0}));

INSTANTIATE_TEST_SUITE_P(BeyondDoubleRange, LenientNumberReads,
                         ::testing::Values(NumberCase{"1e400", kInf}, NumberCase{"-1e400", -kInf},
                                           NumberCase{"1.8e308", kInf}, NumberCase{"1e-400", 0.0},
                                           NumberCase{"-1e-400", -0.0},
                                           NumberCase{"1e99999999999999999999999999999", kInf},
                                           NumberCase{"1e-99999999999999999999999999999", 0.0}));

std::string Repeat(char c, std::size_t count) {
  return std::string(count, c);
}

TEST(LenientNumberHex, DigitsBeyondTheFirst64BitsStillDecideTheRounding) {
  // 2^101 + 2^48 + 1: just above the midpoint between two doubles, and only
  // the very last bit says so.
  EXPECT_EQ(LenientNumber("&H20000000000001000000000001"),
            std::ldexp(1.0, 101) + std::ldexp(1.0, 49));
  // 2^101 + 2^48 exactly: the midpoint, so to even.
  EXPECT_EQ(LenientNumber("&H20000000000001000000000000"), std::ldexp(1.0, 101));
}

TEST(LenientNumberHex, AnyLengthReadsWithoutWrapping) {
  EXPECT_EQ(LenientNumber("&H1" + Repeat('0', 255)), std::ldexp(1.0, 1020));
  EXPECT_EQ(LenientNumber("&O1" + Repeat('0', 300)), std::ldexp(1.0, 900));
  // 2^1024 - 1 rounds up past the largest double.
  EXPECT_EQ(LenientNumber("&H" + Repeat('F', 256)), kInf);
  EXPECT_EQ(LenientNumber("&H" + Repeat('F', 200'000)), kInf);
  EXPECT_EQ(LenientNumber("&H" + Repeat('0', 200'000) + "2A"), 42.0);
}

TEST(LenientNumberDecimal, LongDigitStringsRoundCorrectly) {
  const std::string midpoint = "9007199254740993";  // halfway between two doubles
  const std::string zeros = Repeat('0', 1000);
  EXPECT_EQ(LenientNumber(midpoint), 9007199254740992.0);
  EXPECT_EQ(LenientNumber(midpoint + "." + zeros), 9007199254740992.0);
  // A single non-zero digit a thousand places on tips it upwards.
  EXPECT_EQ(LenientNumber(midpoint + "." + zeros + "1"), 9007199254740994.0);
  EXPECT_EQ(LenientNumber(midpoint + zeros + "1e-1001"), 9007199254740994.0);
  EXPECT_EQ(LenientNumber("1" + zeros + "e-1000"), 1.0);
  EXPECT_EQ(LenientNumber("0." + Repeat('0', 400) + "1e400"), 0.1);
  EXPECT_EQ(LenientNumber("0." + Repeat('9', 5000)), 1.0);
}

TEST(LenientNumberDecimal, MegabytesOfTextTakeLinearTime) {
  constexpr std::size_t kSize = 4'000'000;
  EXPECT_EQ(LenientNumber(Repeat(' ', kSize) + "7"), 7.0);
  EXPECT_EQ(LenientNumber(Repeat('1', kSize)), kInf);
  EXPECT_EQ(LenientNumber("0." + Repeat('0', kSize) + "5"), 0.0);
  EXPECT_EQ(LenientNumber("1" + Repeat('x', kSize)), 1.0);
  std::string spread;
  for (std::size_t i = 0; i < kSize / 2; ++i) spread += i == 0 ? "4 " : "0\t";
  EXPECT_EQ(LenientNumber(spread + "e-1999999"), 4.0);
}

}  // namespace
}  // namespace capmeter
