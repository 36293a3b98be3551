// Feeds arbitrary bytes to the lenient number reader and both result texts,
// and checks what must hold for every input.

#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

#include "fuzz/require.h"
#include "measurement/display_texts.h"
#include "measurement/float_chars.h"
#include "measurement/lenient_number.h"
#include "measurement/result_text.h"
#include "measurement/show_results.h"

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

// The stand-ins for standard libraries without floating-point from_chars and
// to_chars must give this library's results exactly, for any text and value.
void CheckStandIns(std::string_view text, double value, float single) {
#if CAPMETER_HAVE_STD_FLOAT_FROM_CHARS && CAPMETER_HAVE_STD_FLOAT_TO_CHARS
  const char* first = text.data();
  const char* last = first + text.size();
  double wanted = 42.0;
  double got = 42.0;
  const auto a = std::from_chars(first, last, wanted);
  const auto b = capmeter::portable::DoubleFromChars(first, last, got);
  Require(a.ec == b.ec && a.ptr == b.ptr, "stand-in reads as far", text);
  Require(std::memcmp(&wanted, &got, sizeof got) == 0 || (std::isnan(wanted) && std::isnan(got)),
          "stand-in reads the same value", text);

  // The text `write(buffer, end)` puts in a buffer of its own.
  const auto written = [](const auto& write) {
    char buffer[400];
    return std::string(buffer, write(buffer, buffer + sizeof buffer).ptr);
  };
  constexpr auto kFixed = std::chars_format::fixed;
  constexpr auto kGeneral = std::chars_format::general;
  Require(written([&](char* f, char* l) { return std::to_chars(f, l, value, kFixed, 6); }) ==
              written([&](char* f, char* l) {
                return capmeter::portable::DoubleToChars(f, l, value, kFixed, 6);
              }),
          "stand-in writes the same fixed text", text);
  Require(written([&](char* f, char* l) { return std::to_chars(f, l, single, kGeneral, 7); }) ==
              written([&](char* f, char* l) {
                return capmeter::portable::FloatToChars(f, l, single, kGeneral, 7);
              }),
          "stand-in writes the same general text", text);
#else
  (void)text;
  (void)value;
  (void)single;
#endif
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
    CheckStandIns(text, raw, rawFloat);
  } else {
    CheckStandIns(text, value, ToFloat(value));
  }

  // The whole of Show results, m and b split at the first '|'.
  const std::size_t bar = text.find('|');
  const std::string_view m = text.substr(0, bar);
  const std::string_view b = bar == std::string_view::npos ? "" : text.substr(bar + 1);
  FuzzDisplay display(m, b);
  capmeter::ShowResults(ToFloat(value), display, ",");
  Require(!display.capacitance.empty(), "capacitance shown", text);
  return 0;
}
