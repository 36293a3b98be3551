#include "measurement/si_value.h"

#include <chrono>
#include <cmath>
#include <cstddef>

#include "measurement/float_chars.h"

namespace capmeter {

namespace {

struct Prefix {
  std::string_view symbol;
  double factor;
};

// "K" for kilo as resistor markings write it; "M" stays mega and "m" milli.
constexpr Prefix kPrefixes[] = {{"p", 1e-12},       {"n", 1e-9}, {"u", 1e-6},
                                {"\xC2\xB5", 1e-6}, {"m", 1e-3}, {"k", 1e3},
                                {"K", 1e3},         {"M", 1e6},  {"G", 1e9}};

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

bool IsUnit(std::string_view rest, std::string_view unit) {
  if (unit == "ohm") {
    return EqualsIgnoringCase(rest, "ohm") || EqualsIgnoringCase(rest, "ohms") ||
           rest == "\xCE\xA9";
  }
  return EqualsIgnoringCase(rest, unit);
}

void SkipSpaces(std::string_view& text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
}

}  // namespace

std::optional<double> ParseEngineeringValue(std::string_view text, std::string_view unit) {
  SkipSpaces(text);
  // One '+' may lead; the number itself starts right after it ("+-1" is no
  // number, and a negative one is refused below anyway).
  if (!text.empty() && text.front() == '+') {
    text.remove_prefix(1);
    if (text.empty() || text.front() == '-') return std::nullopt;
  }
  double number = 0;
  const auto [end, error] = DoubleFromChars(text.data(), text.data() + text.size(), number);
  if (error != std::errc() || !std::isfinite(number) || number <= 0) {
    return std::nullopt;
  }
  std::string_view rest = text.substr(static_cast<std::size_t>(end - text.data()));
  SkipSpaces(rest);
  if (rest.empty() || IsUnit(rest, unit)) {
    return number;
  }
  for (const Prefix& prefix : kPrefixes) {
    if (rest.substr(0, prefix.symbol.size()) == prefix.symbol) {
      const std::string_view tail = rest.substr(prefix.symbol.size());
      if (tail.empty() || IsUnit(tail, unit)) {
        const double value = number * prefix.factor;
        return std::isfinite(value) && value > 0 ? std::optional<double>(value) : std::nullopt;
      }
    }
  }
  return std::nullopt;
}

std::optional<Clock::Duration> ParseSeconds(std::string_view text) {
  // Longer spans would not fit the clock's nanoseconds much further up.
  constexpr double kLongestSeconds = 1e6;
  if (text == "0") {
    return Clock::Duration::zero();
  }
  const std::optional<double> seconds = ParseEngineeringValue(text, "s");
  if (!seconds || *seconds > kLongestSeconds) {
    return std::nullopt;
  }
  return std::chrono::duration_cast<Clock::Duration>(std::chrono::duration<double>(*seconds));
}

}  // namespace capmeter
