#include "measurement/float_chars.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <string_view>
#include <utility>

namespace capmeter {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kUntouched = 42.0;  // what an out-of-range read must leave alone

using Reader = std::from_chars_result (*)(const char*, const char*, double&);

// The stand-in always, and whatever the build chose (the standard library's
// where it has one): both must read every text the same way.
struct NamedReader {
  const char* name;
  Reader read;
};
constexpr NamedReader kReaders[] = {{"portable", &portable::DoubleFromChars},
                                    {"chosen", &DoubleFromChars}};

struct ReadCase {
  std::string text;
  std::errc error;
  std::size_t length;  // characters read
  double value;        // kUntouched unless the read succeeds
};

void PrintTo(const ReadCase& c, std::ostream* os) {
  *os << '"' << (c.text.size() > 60 ? c.text.substr(0, 60) + "..." : c.text) << '"';
}

class DoubleFromCharsReads : public ::testing::TestWithParam<ReadCase> {};

TEST_P(DoubleFromCharsReads, LikeTheStandardLibrary) {
  const ReadCase& c = GetParam();
  for (const NamedReader& reader : kReaders) {
    double value = kUntouched;
    const char* first = c.text.data();
    const auto result = reader.read(first, first + c.text.size(), value);
    EXPECT_EQ(result.ec, c.error) << reader.name;
    EXPECT_EQ(static_cast<std::size_t>(result.ptr - first), c.length) << reader.name;
    if (std::isnan(c.value)) {
      EXPECT_TRUE(std::isnan(value)) << reader.name;
    } else {
      EXPECT_EQ(value, c.value) << reader.name;
    }
    EXPECT_EQ(std::signbit(value), std::signbit(c.value)) << reader.name;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Decimal, DoubleFromCharsReads,
    ::testing::Values(ReadCase{"1.5", {}, 3, 1.5}, ReadCase{"-0", {}, 2, -0.0},
                      ReadCase{".5", {}, 2, 0.5}, ReadCase{"5.", {}, 2, 5.0},
                      ReadCase{"0.1", {}, 3, 0.1}, ReadCase{"007", {}, 3, 7.0},
                      ReadCase{"2.5E-3x", {}, 6, 2.5e-3}, ReadCase{"1e+5x", {}, 4, 1e5},
                      ReadCase{"1e", {}, 1, 1.0}, ReadCase{"1e+", {}, 1, 1.0},
                      ReadCase{"1e-x", {}, 1, 1.0}, ReadCase{"1.2.3", {}, 3, 1.2},
                      ReadCase{"1,5", {}, 1, 1.0}, ReadCase{"0x10", {}, 1, 0.0},
                      ReadCase{"0e99999999999999999999", {}, 22, 0.0},
                      // Halfway between two doubles: to even.
                      ReadCase{"9007199254740993", {}, 16, 9007199254740992.0},
                      ReadCase{"9007199254740995", {}, 16, 9007199254740996.0}));

INSTANTIATE_TEST_SUITE_P(
    NotANumber, DoubleFromCharsReads,
    ::testing::Values(ReadCase{"", std::errc::invalid_argument, 0, kUntouched},
                      ReadCase{"+1", std::errc::invalid_argument, 0, kUntouched},
                      ReadCase{" 1", std::errc::invalid_argument, 0, kUntouched},
                      ReadCase{"-", std::errc::invalid_argument, 0, kUntouched},
                      ReadCase{".", std::errc::invalid_argument, 0, kUntouched},
                      ReadCase{"-.e1", std::errc::invalid_argument, 0, kUntouched},
                      ReadCase{"e5", std::errc::invalid_argument, 0, kUntouched},
                      ReadCase{"in", std::errc::invalid_argument, 0, kUntouched}));

INSTANTIATE_TEST_SUITE_P(
    InfinityAndNaN, DoubleFromCharsReads,
    ::testing::Values(ReadCase{"inf", {}, 3, kInf}, ReadCase{"-INF", {}, 4, -kInf},
                      ReadCase{"Infinity!", {}, 8, kInf}, ReadCase{"infin", {}, 3, kInf},
                      ReadCase{"nan", {}, 3, std::nan("")}, ReadCase{"-NaN", {}, 4, -std::nan("")},
                      ReadCase{"nan(abc_1)x", {}, 10, std::nan("")},
                      ReadCase{"nan(", {}, 3, std::nan("")},
                      ReadCase{"nan(a b)", {}, 3, std::nan("")}));

INSTANTIATE_TEST_SUITE_P(
    EdgesOfTheRange, DoubleFromCharsReads,
    ::testing::Values(
        ReadCase{"1.7976931348623157e308", {}, 22, 1.7976931348623157e308},
        // Still rounds down to the largest double, and just past that point.
        ReadCase{"1.7976931348623158e308", {}, 22, 1.7976931348623157e308},
        ReadCase{"1.7976931348623159e308", std::errc::result_out_of_range, 22, kUntouched},
        ReadCase{"-1e309", std::errc::result_out_of_range, 6, kUntouched},
        ReadCase{"1e99999999999999999999", std::errc::result_out_of_range, 22, kUntouched},
        // Subnormals are values, not underflows.
        ReadCase{"4e-320", {}, 6, 4e-320},
        ReadCase{"2.4703282292062328e-324", {}, 23, 4.9406564584124654e-324},
        // Below half the smallest subnormal the value would be zero.
        ReadCase{"2.4703282292062327e-324", std::errc::result_out_of_range, 23, kUntouched},
        ReadCase{"-1e-400", std::errc::result_out_of_range, 7, kUntouched}));

std::string Repeat(char c, std::size_t count) {
  return std::string(count, c);
}

TEST(DoubleFromCharsLongTexts, EveryDigitCountsAndTheExponentStaysExact) {
  const std::string midpoint = "9007199254740993";
  const std::string zeros = Repeat('0', 2000);
  struct Long {
    std::string text;
    double value;
  };
  const Long cases[] = {
      {midpoint + "." + zeros, 9007199254740992.0},
      // A single non-zero digit two thousand places on tips it upwards.
      {midpoint + "." + zeros + "1", 9007199254740994.0},
      {midpoint + zeros + "1e-2001", 9007199254740994.0},
      {"1" + zeros + "e-2000", 1.0},
      // More leading zeros than any exponent cap would hold.
      {"0." + Repeat('0', 300'000) + "25e300001", 2.5},
      {"0." + Repeat('9', 5000), 1.0},
  };
  for (const Long& c : cases) {
    for (const NamedReader& reader : kReaders) {
      double value = kUntouched;
      const auto result = reader.read(c.text.data(), c.text.data() + c.text.size(), value);
      EXPECT_EQ(result.ec, std::errc()) << reader.name << " " << c.text.substr(0, 40);
      EXPECT_EQ(result.ptr, c.text.data() + c.text.size()) << reader.name;
      EXPECT_EQ(value, c.value) << reader.name << " " << c.text.substr(0, 40);
    }
  }
}

using DoubleWriter = std::to_chars_result (*)(char*, char*, double, std::chars_format, int);
using FloatWriter = std::to_chars_result (*)(char*, char*, float, std::chars_format, int);
constexpr std::pair<const char*, DoubleWriter> kDoubleWriters[] = {
    {"portable", &portable::DoubleToChars}, {"chosen", &DoubleToChars}};
constexpr std::pair<const char*, FloatWriter> kFloatWriters[] = {
    {"portable", &portable::FloatToChars}, {"chosen", &FloatToChars}};

template <typename Number, typename Writer>
std::string Write(Writer write, Number value, std::chars_format format, int precision) {
  char buffer[400];
  const auto result = write(buffer, buffer + sizeof buffer, value, format, precision);
  EXPECT_EQ(result.ec, std::errc());
  return {buffer, result.ptr};
}

TEST(DoubleToChars, FixedWritesTheExactDecimalExpansion) {
  struct Fixed {
    double value;
    int precision;
    const char* text;
  };
  const Fixed cases[] = {
      {0.5, 6, "0.500000"},
      {-0.0, 6, "-0.000000"},
      {5e-7, 6, "0.000000"},  // just below 0.0000005 in binary
      {1.0000005, 6, "1.000001"},
      {2.5, 0, "2"},  // ties to even
      {1e23, 6, "99999999999999991611392.000000"},
      {-kInf, 6, "-inf"},
      {1.5, 17, "1.50000000000000000"},
  };
  for (const auto& [name, write] : kDoubleWriters) {
    for (const Fixed& c : cases) {
      EXPECT_EQ(Write(write, c.value, std::chars_format::fixed, c.precision), c.text)
          << name << " " << c.value;
    }
    EXPECT_EQ(Write(write, std::numeric_limits<double>::max(), std::chars_format::fixed, 6).size(),
              316U)
        << name;
  }
}

TEST(FloatToChars, GeneralWithSevenDigitsLikePrintf) {
  struct General {
    float value;
    const char* text;
  };
  const General cases[] = {
      {0.517F, "0.517"},
      {1.2345678e-5F, "1.234568e-05"},
      {3.4028235e38F, "3.402823e+38"},
      {1e7F, "1e+07"},
      {1234567.0F, "1234567"},
      {0.0001F, "0.0001"},
      {-0.0F, "-0"},
      {std::numeric_limits<float>::infinity(), "inf"},
  };
  for (const auto& [name, write] : kFloatWriters) {
    for (const General& c : cases) {
      EXPECT_EQ(Write(write, c.value, std::chars_format::general, 7), c.text) << name;
    }
    EXPECT_EQ(Write(write, 1.5F, std::chars_format::scientific, 2), "1.50e+00") << name;
  }
}

TEST(DoubleToChars, ReportsABufferTooSmall) {
  for (const auto& [name, write] : kDoubleWriters) {
    char buffer[8];
    const auto result =
        write(buffer, buffer + sizeof buffer, 123456.5, std::chars_format::fixed, 6);
    EXPECT_EQ(result.ec, std::errc::value_too_large) << name;
    EXPECT_EQ(result.ptr, buffer + sizeof buffer) << name;
  }
}

// A locale whose decimal point is a comma, as a desktop may set it (Qt calls
// setlocale at start); empty when the machine has none.
std::string CommaLocale() {
  for (const char* name :
       {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8", "ru_RU.UTF-8", "nl_NL.UTF-8"}) {
    if (std::setlocale(LC_ALL, name) != nullptr && std::localeconv()->decimal_point[0] == ',') {
      return name;
    }
  }
  std::setlocale(LC_ALL, "C");
  return {};
}

TEST(FloatChars, IgnoreTheCLocale) {
  const std::string locale = CommaLocale();
  if (locale.empty()) GTEST_SKIP() << "no locale with a decimal comma on this machine";
  for (const NamedReader& reader : kReaders) {
    const std::string_view text = "2.5e-1";
    double value = 0.0;
    const auto result = reader.read(text.data(), text.data() + text.size(), value);
    EXPECT_EQ(result.ptr, text.data() + text.size()) << reader.name << " in " << locale;
    EXPECT_EQ(value, 0.25) << reader.name << " in " << locale;
  }
  for (const auto& [name, write] : kDoubleWriters) {
    EXPECT_EQ(Write(write, 1234.5, std::chars_format::fixed, 2), "1234.50") << name;
  }
  for (const auto& [name, write] : kFloatWriters) {
    EXPECT_EQ(Write(write, 0.517F, std::chars_format::general, 7), "0.517") << name;
  }
  std::setlocale(LC_ALL, "C");
}

// Against the standard library itself, where it has the function: many
// random texts and values, every result identical to the bit.
#if CAPMETER_HAVE_STD_FLOAT_FROM_CHARS || CAPMETER_HAVE_STD_FLOAT_TO_CHARS
double RandomFiniteDouble(std::mt19937_64& random) {
  for (;;) {
    const std::uint64_t bits = random();
    double value = 0.0;
    std::memcpy(&value, &bits, sizeof value);
    if (std::isfinite(value)) return value;
  }
}
#endif

#if CAPMETER_HAVE_STD_FLOAT_FROM_CHARS

std::uint64_t Bits(double value) {
  std::uint64_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

// Digits with a point somewhere and an exponent around the double range's
// edges, the texts where rounding and range are decided.
std::string RandomDecimalText(std::mt19937_64& random) {
  std::uniform_int_distribution<int> length(1, 40);
  std::uniform_int_distribution<int> digit(0, 9);
  std::uniform_int_distribution<int> exponent(-360, 330);
  std::string text = random() % 2 ? "-" : "";
  const int digits = length(random);
  const int point = static_cast<int>(random() % static_cast<unsigned>(digits + 1));
  for (int i = 0; i < digits; ++i) {
    if (i == point) text += '.';
    text += static_cast<char>('0' + digit(random));
  }
  if (random() % 4 != 0) text += "e" + std::to_string(exponent(random));
  return text;
}

TEST(FloatChars, TheReaderStandInMatchesTheStandardLibrary) {
  std::mt19937_64 random(20240611);
  char buffer[64];
  for (int i = 0; i < 40'000; ++i) {
    std::string text;
    if (i % 2 == 0) {
      text = RandomDecimalText(random);
    } else {
      const int precision = static_cast<int>(random() % 20);
      std::snprintf(buffer, sizeof buffer, "%.*g", precision, RandomFiniteDouble(random));
      text = buffer;
    }
    double expected = kUntouched;
    double value = kUntouched;
    const char* first = text.data();
    const char* last = first + text.size();
    const auto wanted = std::from_chars(first, last, expected);
    const auto got = portable::DoubleFromChars(first, last, value);
    ASSERT_EQ(got.ec, wanted.ec) << text;
    ASSERT_EQ(got.ptr, wanted.ptr) << text;
    ASSERT_EQ(Bits(value), Bits(expected)) << text;
  }
}

#else

TEST(FloatChars, TheReaderStandInMatchesTheStandardLibrary) {
  GTEST_SKIP() << "this standard library has no floating-point from_chars";
}

#endif

#if CAPMETER_HAVE_STD_FLOAT_TO_CHARS

TEST(FloatChars, TheWriterStandInsMatchTheStandardLibrary) {
  std::mt19937_64 random(20240612);
  char wanted[400];
  char got[400];
  for (int i = 0; i < 20'000; ++i) {
    const double value = RandomFiniteDouble(random);
    const int precision = static_cast<int>(random() % 18);
    for (const std::chars_format format :
         {std::chars_format::fixed, std::chars_format::scientific, std::chars_format::general}) {
      const auto a = std::to_chars(wanted, wanted + sizeof wanted, value, format, precision);
      const auto b = portable::DoubleToChars(got, got + sizeof got, value, format, precision);
      ASSERT_EQ(std::string(got, b.ptr), std::string(wanted, a.ptr)) << precision;
    }
    const auto single = static_cast<float>(std::ldexp(std::fmod(value, 1.0), i % 200 - 100));
    const auto a = std::to_chars(wanted, wanted + sizeof wanted, single, std::chars_format::general,
                                 precision);
    const auto b = portable::FloatToChars(got, got + sizeof got, single, std::chars_format::general,
                                          precision);
    ASSERT_EQ(std::string(got, b.ptr), std::string(wanted, a.ptr)) << precision;
    // The shortest round trip, of both widths.
    const auto c = std::to_chars(wanted, wanted + sizeof wanted, value);
    const auto d = portable::DoubleToChars(got, got + sizeof got, value);
    ASSERT_EQ(std::string(got, d.ptr), std::string(wanted, c.ptr));
    const auto e = std::to_chars(wanted, wanted + sizeof wanted, single);
    const auto f = portable::FloatToChars(got, got + sizeof got, single);
    ASSERT_EQ(std::string(got, f.ptr), std::string(wanted, e.ptr));
  }
}

#else

TEST(FloatChars, TheWriterStandInsMatchTheStandardLibrary) {
  GTEST_SKIP() << "this standard library has no floating-point to_chars";
}

#endif

}  // namespace
}  // namespace capmeter
