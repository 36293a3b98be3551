#include "measurement/float_chars.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <iomanip>
#include <limits>
#include <locale>
#include <sstream>
#include <string>
#include <string_view>
#include <type_traits>
#include <version>

// The build says what the standard library has; without it, the library's own
// feature macro decides (libc++ 14 has to_chars for double but sets no macro,
// so it then takes the stand-ins for both, which give the same text).
#ifndef CAPMETER_HAVE_STD_FLOAT_FROM_CHARS
#if defined(__cpp_lib_to_chars)
#define CAPMETER_HAVE_STD_FLOAT_FROM_CHARS 1
#else
#define CAPMETER_HAVE_STD_FLOAT_FROM_CHARS 0
#endif
#endif
#ifndef CAPMETER_HAVE_STD_FLOAT_TO_CHARS
#if defined(__cpp_lib_to_chars)
#define CAPMETER_HAVE_STD_FLOAT_TO_CHARS 1
#else
#define CAPMETER_HAVE_STD_FLOAT_TO_CHARS 0
#endif
#endif

namespace capmeter {

namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

bool IsAlnum(char c) {
  return IsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool StartsWithNoCase(const char* p, const char* last, std::string_view word) {
  if (last - p < static_cast<std::ptrdiff_t>(word.size())) return false;
  for (const char c : word) {
    if (Lower(*p++) != c) return false;
  }
  return true;
}

// The nearest double to the gathered digits (not empty). strtod rounds
// correctly and reads the digits' text alike in every locale. Zero means the
// value underflowed.
double NearestDouble(const DecimalDigits& digits, bool negative) {
  const double infinity = std::numeric_limits<double>::infinity();
  if (digits.Magnitude() > DecimalDigits::kMagnitudeLimit) return negative ? -infinity : infinity;
  if (digits.Magnitude() < -DecimalDigits::kMagnitudeLimit) return 0.0;
  const int savedErrno = errno;  // from_chars leaves errno alone; so do we
  const double value = std::strtod(digits.Text(negative).c_str(), nullptr);
  errno = savedErrno;
  return value;
}

std::to_chars_result WriteThroughStream(char* first, char* last, double value,
                                        std::chars_format format, int precision) {
  // The classic locale gives '.' and no digit grouping whatever the C locale.
  std::ostringstream out;
  out.imbue(std::locale::classic());
  if (format == std::chars_format::fixed) {
    out << std::fixed;
  } else if (format == std::chars_format::scientific) {
    out << std::scientific;
  }
  out << std::setprecision(precision) << value;
  const std::string text = out.str();
  if (static_cast<std::ptrdiff_t>(text.size()) > last - first) {
    return {last, std::errc::value_too_large};
  }
  return {std::copy(text.begin(), text.end(), first), std::errc()};
}

// The shortest round trip, for the stand-ins: the fewest scientific digits
// that read back as `value` (correctly rounded digits are the nearest of
// their length, so no shorter text can read back if these do not), then
// written fixed instead where that is shorter.
template <typename Number>
std::to_chars_result WriteShortest(char* first, char* last, Number value) {
  if (!std::isfinite(value)) {
    const std::string_view text = value != value ? "nan" : value < 0 ? "-inf" : "inf";
    if (static_cast<std::ptrdiff_t>(text.size()) > last - first) {
      return {last, std::errc::value_too_large};
    }
    return {std::copy(text.begin(), text.end(), first), std::errc()};
  }
  std::string scientific;
  for (int digits = 1;; ++digits) {
    std::array<char, 64> buffer{};
    const auto end =
        WriteThroughStream(buffer.data(), buffer.data() + buffer.size(), static_cast<double>(value),
                           std::chars_format::scientific, digits - 1)
            .ptr;
    double back = 0.0;
    portable::DoubleFromChars(buffer.data(), end, back);
    scientific.assign(buffer.data(), end);
    if (static_cast<Number>(back) == value || digits >= std::numeric_limits<Number>::max_digits10) {
      break;
    }
  }
  // "-d.ddde+XX" as its sign, significant digits and decimal exponent.
  const bool negative = scientific.front() == '-';
  const std::size_t e = scientific.find('e');
  std::string significant;
  for (std::size_t i = negative ? 1 : 0; i < e; ++i) {
    if (scientific[i] != '.') significant += scientific[i];
  }
  const int exponent = std::atoi(scientific.c_str() + e + 1);
  const int count = static_cast<int>(significant.size());
  std::string fixed = negative ? "-" : "";
  if (exponent < 0) {
    fixed += "0." + std::string(static_cast<std::size_t>(-exponent - 1), '0') + significant;
  } else if (count <= exponent + 1) {
    // A whole number is written with all its digits, exact, as printf's %.0f
    // writes it; as long as the padded shortest digits would be.
    std::array<char, 400> whole{};
    const auto end = WriteThroughStream(whole.data(), whole.data() + whole.size(),
                                        static_cast<double>(value), std::chars_format::fixed, 0)
                         .ptr;
    fixed.assign(whole.data(), end);
  } else {
    fixed += significant.substr(0, static_cast<std::size_t>(exponent + 1)) + "." +
             significant.substr(static_cast<std::size_t>(exponent + 1));
  }
  const std::string& text = fixed.size() <= scientific.size() ? fixed : scientific;
  if (static_cast<std::ptrdiff_t>(text.size()) > last - first) {
    return {last, std::errc::value_too_large};
  }
  return {std::copy(text.begin(), text.end(), first), std::errc()};
}

}  // namespace

void DecimalDigits::Push(char digit, bool afterPoint) {
  if (digits_.empty() && digit == '0') {
    if (afterPoint) --scale_;
  } else if (digits_.size() < kMaxDigits) {
    digits_ += digit;
    if (afterPoint) --scale_;
  } else {
    sticky_ = sticky_ || digit != '0';
    if (!afterPoint) ++scale_;
  }
}

long long DecimalDigits::Magnitude() const {
  return scale_ + static_cast<long long>(digits_.size()) - 1;
}

std::string DecimalDigits::Text(bool negative) const {
  std::string text;
  text.reserve(digits_.size() + 24);
  if (negative) text += '-';
  text += digits_;
  long long scale = scale_;
  if (sticky_) {
    text += '1';
    --scale;
  }
  text += 'e';
  text += std::to_string(scale);
  return text;
}

namespace portable {

std::from_chars_result DoubleFromChars(const char* first, const char* last, double& value) {
  const char* p = first;
  const bool negative = p != last && *p == '-';
  if (negative) ++p;

  if (StartsWithNoCase(p, last, "inf")) {
    p += 3;
    if (StartsWithNoCase(p, last, "inity")) p += 5;
    const double infinity = std::numeric_limits<double>::infinity();
    value = negative ? -infinity : infinity;
    return {p, std::errc()};
  }
  if (StartsWithNoCase(p, last, "nan")) {
    p += 3;
    if (p != last && *p == '(') {
      const char* q = p + 1;
      while (q != last && (IsAlnum(*q) || *q == '_')) ++q;
      if (q != last && *q == ')') p = q + 1;
    }
    const double nan = std::numeric_limits<double>::quiet_NaN();
    value = negative ? -nan : nan;
    return {p, std::errc()};
  }

  DecimalDigits digits;
  bool anyDigit = false;
  bool afterPoint = false;
  for (; p != last; ++p) {
    if (IsDigit(*p)) {
      anyDigit = true;
      digits.Push(*p, afterPoint);
    } else if (*p == '.' && !afterPoint) {
      afterPoint = true;
    } else {
      break;
    }
  }
  if (!anyDigit) return {first, std::errc::invalid_argument};

  // An exponent counts only with at least one digit: "1e" and "1e+" end at 1.
  if (p != last && (*p == 'e' || *p == 'E')) {
    const char* q = p + 1;
    const bool negativeExponent = q != last && *q == '-';
    if (q != last && (*q == '-' || *q == '+')) ++q;
    if (q != last && IsDigit(*q)) {
      long long exponent = 0;
      for (; q != last && IsDigit(*q); ++q) {
        if (exponent < DecimalDigits::kExponentCap) exponent = exponent * 10 + (*q - '0');
      }
      digits.Scale(negativeExponent ? -exponent : exponent);
      p = q;
    }
  }

  if (digits.Empty()) {
    value = negative ? -0.0 : 0.0;
    return {p, std::errc()};
  }
  const double nearest = NearestDouble(digits, negative);
  // Like from_chars: a non-zero number that rounds to zero or infinity is out
  // of range, and the value is left as it was.
  if (nearest == 0.0 || std::isinf(nearest)) return {p, std::errc::result_out_of_range};
  value = nearest;
  return {p, std::errc()};
}

std::to_chars_result DoubleToChars(char* first, char* last, double value, std::chars_format format,
                                   int precision) {
  return WriteThroughStream(first, last, value, format, precision);
}

std::to_chars_result FloatToChars(char* first, char* last, float value, std::chars_format format,
                                  int precision) {
  // With a precision, to_chars writes a float as printf writes it once
  // widened to double.
  return WriteThroughStream(first, last, static_cast<double>(value), format, precision);
}

std::to_chars_result DoubleToChars(char* first, char* last, double value) {
  return WriteShortest(first, last, value);
}

std::to_chars_result FloatToChars(char* first, char* last, float value) {
  return WriteShortest(first, last, value);
}

}  // namespace portable

std::from_chars_result DoubleFromChars(const char* first, const char* last, double& value) {
#if CAPMETER_HAVE_STD_FLOAT_FROM_CHARS
  return std::from_chars(first, last, value);
#else
  return portable::DoubleFromChars(first, last, value);
#endif
}

namespace {

// The standard library's conversion where it has one, else the stand-in.
template <typename Number, typename... Format>
std::to_chars_result ChosenToChars(char* first, char* last, Number value, Format... format) {
#if CAPMETER_HAVE_STD_FLOAT_TO_CHARS
  return std::to_chars(first, last, value, format...);
#else
  if constexpr (std::is_same_v<Number, float>) {
    return portable::FloatToChars(first, last, value, format...);
  } else {
    return portable::DoubleToChars(first, last, value, format...);
  }
#endif
}

}  // namespace

std::to_chars_result DoubleToChars(char* first, char* last, double value, std::chars_format format,
                                   int precision) {
  return ChosenToChars(first, last, value, format, precision);
}

std::to_chars_result FloatToChars(char* first, char* last, float value, std::chars_format format,
                                  int precision) {
  return ChosenToChars(first, last, value, format, precision);
}

std::to_chars_result DoubleToChars(char* first, char* last, double value) {
  return ChosenToChars(first, last, value);
}

std::to_chars_result FloatToChars(char* first, char* last, float value) {
  return ChosenToChars(first, last, value);
}

}  // namespace capmeter
