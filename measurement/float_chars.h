#pragma once

#include <charconv>
#include <string>

namespace capmeter {

// std::from_chars for double, also where the standard library lacks it
// (libc++ up to 19): there fast_float reads, with the standard's results. It
// ignores the C locale, so a program that calls setlocale (as Qt does) still
// reads '.'. The general format: an optional '-', digits with an optional
// '.', an optional exponent; also inf, infinity and nan. A number beyond the
// range is result_out_of_range, and the value is left as it was.
std::from_chars_result DoubleFromChars(const char* first, const char* last, double& value);

// The significant digits of a decimal number, gathered one by one as the
// lenient reader meets them, and the power of ten that scales them, to be
// handed as text to DoubleFromChars. Correct rounding never needs more than
// about 770 significant digits; later ones only matter as "was any of them
// non-zero", which one digit 1 stands in for.
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

}  // namespace capmeter
