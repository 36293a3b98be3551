#include "measurement/lenient_number.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "measurement/float_chars.h"

namespace capmeter {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// Only these three vanish from the text; any other blank (carriage return,
// no-break space, ...) ends the number like any other letter.
bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n';
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Walks the text as if its blanks had been removed, without copying it.
class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) { SkipBlanks(); }

  // '\0' past the end: it continues no number.
  char Peek() const { return pos_ < text_.size() ? text_[pos_] : '\0'; }
  void Next() {
    ++pos_;
    SkipBlanks();
  }

 private:
  void SkipBlanks() {
    while (pos_ < text_.size() && IsBlank(text_[pos_])) ++pos_;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

// A whole number of any length, fed bit by bit from its most significant end
// and rounded to the nearest double (ties to even) at the end. Keeping the
// first 64 significant bits plus whether any later bit was set is enough for
// correct rounding, so memory stays constant however long the text.
class BinaryWhole {
 public:
  void PushDigit(unsigned digit, int bitsPerDigit) {
    for (int bit = bitsPerDigit - 1; bit >= 0; --bit) PushBit((digit >> bit) & 1U);
  }

  double Value() const {
    constexpr int kMantissaBits = std::numeric_limits<double>::digits;
    if (kept_ <= kMantissaBits) return static_cast<double>(top_);
    const int shift = kept_ - kMantissaBits;
    std::uint64_t mantissa = top_ >> shift;
    const std::uint64_t rest = top_ & ((std::uint64_t{1} << shift) - 1);
    const std::uint64_t half = std::uint64_t{1} << (shift - 1);
    if (rest > half || (rest == half && (sticky_ || (mantissa & 1U) != 0))) ++mantissa;
    // Past the largest double's exponent the result is infinite anyway; the
    // cut keeps the exponent within int.
    const std::ptrdiff_t exponent = shift + dropped_;
    if (exponent > std::numeric_limits<double>::max_exponent) return kInfinity;
    return std::ldexp(static_cast<double>(mantissa), static_cast<int>(exponent));
  }

 private:
  void PushBit(unsigned bit) {
    if (kept_ == 0 && bit == 0) return;  // leading zeros
    if (kept_ < 64) {
      top_ = (top_ << 1) | bit;
      ++kept_;
    } else {
      sticky_ = sticky_ || bit != 0;
      ++dropped_;
    }
  }

  std::uint64_t top_ = 0;
  int kept_ = 0;
  std::ptrdiff_t dropped_ = 0;
  bool sticky_ = false;
};

int HexDigitValue(char c) {
  if (IsDigit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// After "&": H or O and the digits in that base, read as a non-negative whole
// number with no width limit.
double ReadBasedWhole(Reader& reader) {
  const char base = reader.Peek();
  const bool hex = base == 'h' || base == 'H';
  if (!hex && base != 'o' && base != 'O') return 0.0;
  reader.Next();
  BinaryWhole whole;
  for (;;) {
    const int digit = HexDigitValue(reader.Peek());
    if (digit < 0 || (!hex && digit > 7)) break;
    whole.PushDigit(static_cast<unsigned>(digit), hex ? 4 : 3);
    reader.Next();
  }
  return whole.Value();
}

// The nearest double to the gathered digits, infinity or zero beyond the
// range.
double Nearest(const DecimalDigits& digits, bool negative) {
  const double zero = negative ? -0.0 : 0.0;
  if (digits.Empty()) return zero;
  const long long magnitude = digits.Magnitude();
  if (magnitude > DecimalDigits::kMagnitudeLimit) return negative ? -kInfinity : kInfinity;
  if (magnitude < -DecimalDigits::kMagnitudeLimit) return zero;
  const std::string text = digits.Text(negative);
  double value = 0.0;
  const auto result = DoubleFromChars(text.data(), text.data() + text.size(), value);
  if (result.ec == std::errc::result_out_of_range) {
    // The value is left alone here; the magnitude says which end.
    return magnitude >= 0 ? (negative ? -kInfinity : kInfinity) : zero;
  }
  return value;
}

// The optional exponent after the mantissa: E or D, a sign and digits. Returns
// 0 when no digit follows, so "1e" and "1e+" read as 1.
long long ReadExponent(Reader& reader) {
  const char marker = reader.Peek();
  if (marker != 'e' && marker != 'E' && marker != 'd' && marker != 'D') return 0;
  reader.Next();
  const bool negative = reader.Peek() == '-';
  if (negative || reader.Peek() == '+') reader.Next();
  long long exponent = 0;
  while (IsDigit(reader.Peek())) {
    // Saturates: any larger exponent gives infinity or zero all the same.
    if (exponent < DecimalDigits::kExponentCap) exponent = exponent * 10 + (reader.Peek() - '0');
    reader.Next();
  }
  return negative ? -exponent : exponent;
}

}  // namespace

double LenientNumber(std::string_view text) {
  Reader reader(text);
  if (reader.Peek() == '&') {
    reader.Next();
    return ReadBasedWhole(reader);
  }

  const bool negative = reader.Peek() == '-';
  if (negative || reader.Peek() == '+') reader.Next();

  DecimalDigits digits;
  bool anyDigit = false;
  bool afterPoint = false;
  for (;;) {
    const char c = reader.Peek();
    if (IsDigit(c)) {
      anyDigit = true;
      digits.Push(c, afterPoint);
    } else if (c == '.' && !afterPoint) {
      afterPoint = true;
    } else {
      break;
    }
    reader.Next();
  }
  if (!anyDigit) return 0.0;  // "", "-", ".", "e5", letters

  digits.Scale(ReadExponent(reader));
  return Nearest(digits, negative);
}

}  // namespace capmeter
