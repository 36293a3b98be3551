#include "measurement/float_chars.h"

#include <cmath>
#include <string>

#if !CAPMETER_HAVE_STD_FLOAT_FROM_CHARS
#include <fast_float/fast_float.h>
#endif

namespace capmeter {

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

#if CAPMETER_HAVE_STD_FLOAT_FROM_CHARS

std::from_chars_result DoubleFromChars(const char* first, const char* last, double& value) {
  return std::from_chars(first, last, value);
}

#else

namespace {

// Whether fast_float's infinity or zero for the number in [first, last),
// which it read, stands for a number beyond the range: a written inf is
// infinite and a written zero is zero, a number of digits never.
bool BeyondTheRange(const char* first, const char* last, double read) {
  if (first != last && *first == '-') ++first;
  const bool digits = first != last && (*first == '.' || (*first >= '0' && *first <= '9'));
  if (!digits) return false;  // inf, infinity, nan
  if (std::isinf(read)) return true;
  if (read != 0.0) return false;
  for (; first != last && *first != 'e' && *first != 'E'; ++first) {
    if (*first >= '1' && *first <= '9') return true;
  }
  return false;
}

}  // namespace

std::from_chars_result DoubleFromChars(const char* first, const char* last, double& value) {
  // fast_float 3.9 calls a number beyond the range a success, infinity or
  // zero; the standard reports it and leaves the value alone.
  double read = 0.0;
  const auto result = fast_float::from_chars(first, last, read);
  if (result.ec != std::errc()) return {result.ptr, result.ec};
  if (BeyondTheRange(first, result.ptr, read)) return {result.ptr, std::errc::result_out_of_range};
  value = read;
  return {result.ptr, std::errc()};
}

#endif

}  // namespace capmeter
