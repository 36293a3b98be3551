// Feeds arbitrary bytes to the number readers and both result texts, and
// checks what must hold for every input.

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz/require.h"
#include "measurement/display_texts.h"
#include "measurement/float_chars.h"
#include "measurement/lenient_number.h"
#include "measurement/result_text.h"
#include "measurement/show_results.h"
#include "measurement/si_value.h"
#include "scpi/parser.h"

namespace {

using capmeter::GeneralText;
using capmeter::LenientNumber;
using capmeter::PatternText;
using capmeter::fuzz::Require;

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// A finite value's pattern text: [-]digits<sep>digits, no leading zero, no
// trailing fraction zero, no "-" on a bare separator, and it reads back
// within half a millionth (plus what the digits of a huge value can hold).
void CheckPattern(double value) {
  if (!std::isfinite(value)) {
    const std::string text = PatternText(value, ",");
    Require(text == "inf" || text == "-inf" || text == "nan", "not-finite text", text);
    return;
  }
  for (const std::string_view separator : {".", ",", "\xc2\xb7"}) {
    const std::string text = PatternText(value, separator);
    const std::size_t at = text.find(separator);
    Require(at != std::string::npos, "separator shown", text);
    Require(text.find(separator, at + 1) == std::string::npos, "one separator", text);
    const std::size_t sign = text.front() == '-' ? 1 : 0;
    const std::string_view whole = std::string_view(text).substr(sign, at - sign);
    const std::string_view fraction = std::string_view(text).substr(at + separator.size());
    for (const char c : whole) Require(IsDigit(c), "whole digits", text);
    for (const char c : fraction) Require(IsDigit(c), "fraction digits", text);
    Require(fraction.size() <= 6, "six decimals", text);
    Require(whole.empty() || whole.front() != '0', "no leading zero", text);
    Require(fraction.empty() || fraction.back() != '0', "no trailing zero", text);
    Require(sign == 0 || !(whole.empty() && fraction.empty()), "no -0", text);
    Require((sign == 1) == (value < 0 && !(whole.empty() && fraction.empty())), "sign", text);
  }
  const std::string text = PatternText(value, ".");
  const double back = LenientNumber(text);
  Require(std::fabs(back - value) <= 5.000001e-7 + std::fabs(value) * 1e-15, "reads back", text);
}

// General text: seven significant digits at most, reads back to the float
// within half a unit of the seventh digit.
void CheckGeneral(float seconds) {
  const std::string comma = GeneralText(seconds, ",");
  Require(!comma.empty(), "general text non-empty", comma);
  Require(comma.find('.') == std::string::npos, "only the given separator", comma);
  if (!std::isfinite(seconds)) return;
  const std::string text = GeneralText(seconds, ".");
  std::size_t significant = 0;
  bool leading = true;
  for (const char c : text.substr(0, text.find('E'))) {
    if (!IsDigit(c)) continue;
    if (c != '0') leading = false;
    if (!leading) ++significant;
  }
  Require(significant <= 7, "seven digits", text);
  const double back = LenientNumber(text);
  const double exact = seconds;
  Require(std::fabs(back - exact) <= std::fabs(exact) * 5.0001e-7, "reads back", text);
}

// A plain decimal number: [-]digits[.digits][(e|E)[+|-]digits], the one form
// every reader here must read as the C library does.
bool IsPlainNumber(std::string_view text) {
  std::size_t i = text.starts_with('-') ? 1 : 0;
  const auto digits = [&] {
    const std::size_t from = i;
    while (i < text.size() && IsDigit(text[i])) ++i;
    return i > from;
  };
  if (!digits()) return false;
  if (i < text.size() && text[i] == '.') {
    ++i;
    digits();
  }
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    if (!digits()) return false;
  }
  return i == text.size();
}

bool SameDouble(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0 || (std::isnan(a) && std::isnan(b));
}

// The project's readers against an independent conversion, the C library's
// strtod (this program never sets a locale): DoubleFromChars, which stands in
// for std::from_chars where the standard library lacks it, on any text, and
// the lenient, SI and SCPI readers on plain numbers.
void CheckReaders(std::string_view text) {
  double value = 42.0;
  const auto read = capmeter::DoubleFromChars(text.data(), text.data() + text.size(), value);
  const std::string prefix(text.data(), read.ptr);
  errno = 0;
  char* end = nullptr;
  const double reference = std::strtod(prefix.c_str(), &end);
  // glibc also says ERANGE for a NaN whose payload does not fit; no error.
  const bool outOfRange = errno == ERANGE && !std::isnan(reference);
  if (read.ec == std::errc::invalid_argument) {
    Require(read.ptr == text.data() && value == 42.0, "nothing read, nothing changed", text);
    const bool strtodOnly =
        !text.empty() &&
        (text.front() == '+' || std::isspace(static_cast<unsigned char>(text.front())) != 0);
    if (!strtodOnly) {
      const std::string whole(text);
      Require(std::strtod(whole.c_str(), &end) == 0.0 && end == whole.c_str(),
              "no number for strtod either", text);
    }
    return;
  }
  Require(end == prefix.c_str() + prefix.size(), "strtod reads as far", text);
  if (read.ec == std::errc::result_out_of_range) {
    Require(outOfRange && (std::isinf(reference) || reference == 0.0), "beyond the range", text);
    Require(value == 42.0, "value left alone beyond the range", text);
  } else {
    Require(read.ec == std::errc(), "read", text);
    // strtod also says ERANGE for a subnormal result, which is no error.
    Require(!outOfRange || (std::isfinite(reference) && reference != 0.0), "within the range",
            text);
    Require(SameDouble(value, reference), "the nearest double", text);
  }

  if (!IsPlainNumber(text)) return;
  const bool beyond = read.ec == std::errc::result_out_of_range;
  // Beyond the range the lenient reader gives infinity or zero, as strtod.
  Require(SameDouble(capmeter::LenientNumber(text), reference), "lenient reader", text);
  const std::optional<double> number = capmeter::ParseNumber(text);
  Require(number.has_value() == !beyond && (beyond || SameDouble(*number, reference)),
          "strict reader", text);
  const std::optional<double> part = capmeter::ParseEngineeringValue(text, "F");
  const bool positive = !beyond && reference > 0;
  Require(part.has_value() == positive && (!positive || SameDouble(*part, reference)), "SI reader",
          text);
  // CALibration:INTercept takes -1 to 1.
  const std::string command = "CAL:INT " + std::string(text);
  const auto parsed = capmeter::scpi::ParseMessage(command);
  if (beyond) {
    Require(parsed.error && parsed.error->code == -222, "SCPI: out of range", text);
  } else if (std::fabs(reference) <= 1.0) {
    Require(!parsed.error && parsed.units.size() == 1 && parsed.units[0].number &&
                SameDouble(*parsed.units[0].number, reference),
            "SCPI reader", text);
  }
}

// The display ShowResults writes to, holding the two calibration texts.
class FuzzDisplay final : public capmeter::Display {
 public:
  FuzzDisplay(std::string_view m, std::string_view b) : m_(m), b_(b) {}
  void SetCaption(capmeter::LabelSlot slot, std::string_view text) override {
    if (slot == capmeter::LabelSlot::lblCapacitance) capacitance = std::string(text);
  }
  void RepaintNow(capmeter::LabelSlot) override {}
  std::string ReadText(capmeter::TextSlot slot) override {
    return std::string(slot == capmeter::TextSlot::txtM ? m_ : b_);
  }
  void ShowMessage(std::string_view) override {}

  std::string capacitance;

 private:
  std::string_view m_;
  std::string_view b_;
};

float ToFloat(double value) {
  // Outside the float range the conversion itself would be undefined.
  constexpr double kMax = std::numeric_limits<float>::max();
  if (value > kMax) return std::numeric_limits<float>::infinity();
  if (value < -kMax) return -std::numeric_limits<float>::infinity();
  return static_cast<float>(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  const double value = LenientNumber(text);
  Require(!std::isnan(value), "never NaN", text);
  CheckPattern(value);
  CheckGeneral(ToFloat(value));

  // Raw bit patterns reach the formatters too: NaNs, subnormals, infinities.
  if (size >= sizeof(double)) {
    double raw = 0.0;
    std::memcpy(&raw, data, sizeof raw);
    CheckPattern(raw);
    float rawFloat = 0.0F;
    std::memcpy(&rawFloat, data, sizeof rawFloat);
    CheckGeneral(rawFloat);
  }
  CheckReaders(text);

  // The whole of Show results, m and b split at the first '|'.
  const std::size_t bar = text.find('|');
  const std::string_view m = text.substr(0, bar);
  const std::string_view b = bar == std::string_view::npos ? "" : text.substr(bar + 1);
  FuzzDisplay display(m, b);
  capmeter::ShowResults(ToFloat(value), display, ",");
  Require(!display.capacitance.empty(), "capacitance shown", text);
  return 0;
}
