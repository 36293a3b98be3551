#pragma once

#include <charconv>
#include <string>

namespace capmeter {

// std::from_chars and std::to_chars for floating point, with the standard
// library's results, also where the library lacks them (libc++ up to 19 has no
// from_chars for double, for instance). Both ignore the C locale, so a
// program that calls setlocale (as Qt does) still reads and writes '.'.

// The general format of std::from_chars: an optional '-', digits with an
// optional '.', an optional exponent; also inf, infinity and nan.
std::from_chars_result DoubleFromChars(const char* first, const char* last, double& value);

// format is fixed, scientific or general, with the given precision.
std::to_chars_result DoubleToChars(char* first, char* last, double value, std::chars_format format,
                                   int precision);
std::to_chars_result FloatToChars(char* first, char* last, float value, std::chars_format format,
                                  int precision);
// The shortest text that reads back as the same value, fixed or scientific,
// whichever is shorter (fixed on a tie), as std::to_chars without a format.
std::to_chars_result DoubleToChars(char* first, char* last, double value);
std::to_chars_result FloatToChars(char* first, char* last, float value);

// The significant digits of a decimal number, gathered one by one as a
// reader meets them, and the power of ten that scales them; both number
// readers gather theirs here and hand the text to a correctly rounding
// conversion. Correct rounding never needs more than about 770 significant
// digits; later ones only matter as "was any of them non-zero", which one
// digit 1 stands in for.
class DecimalDigits {
 public:
  // Beyond these decimal magnitudes every double is infinite or zero.
  static constexpr long long kMagnitudeLimit = 400;
  // Readers stop adding to an exponent here: far beyond any text's length,
  // so the scale stays exact and cannot overflow.
  static constexpr long long kExponentCap = 1'000'000'000'000'000;

  void Push(char digit, bool afterPoint);
  void Scale(long long powerOfTen) { scale_ += powerOfTen; }

  bool Empty() const { return digits_.empty(); }
  // The power of ten of the leading digit.
  long long Magnitude() const;
  // "[-]<digits>e<scale>": nothing but digits, '-' and 'e', which every
  // reader and every locale read alike.
  std::string Text(bool negative) const;

 private:
  static constexpr std::size_t kMaxDigits = 800;
  std::string digits_;  // without leading zeros
  long long scale_ = 0;
  bool sticky_ = false;  // a non-zero digit beyond kMaxDigits
};

// The stand-ins the functions above fall back to. Always built, so that tests
// can hold them against the standard library wherever it has the real ones.
namespace portable {

std::from_chars_result DoubleFromChars(const char* first, const char* last, double& value);
std::to_chars_result DoubleToChars(char* first, char* last, double value, std::chars_format format,
                                   int precision);
std::to_chars_result FloatToChars(char* first, char* last, float value, std::chars_format format,
                                  int precision);
std::to_chars_result DoubleToChars(char* first, char* last, double value);
std::to_chars_result FloatToChars(char* first, char* last, float value);

}  // namespace portable

}  // namespace capmeter
