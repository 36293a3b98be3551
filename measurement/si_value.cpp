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
  std::string_view name;
};

// "K" for kilo as resistor markings write it; "M" stays mega and "m" milli.
constexpr Prefix kPrefixes[] = {
    {"p", 1e-12, "pico"},        {"n", 1e-9, "nano"},  {"u", 1e-6, "micro"},
    {"\xC2\xB5", 1e-6, "micro"}, {"m", 1e-3, "milli"}, {"k", 1e3, "kilo"},
    {"K", 1e3, "kilo"},          {"M", 1e6, "mega"},   {"G", 1e9, "giga"}};

char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

bool IsUnit(std::string_view rest, std::string_view unit) {
  if (unit == "ohm") {
    return EqualsIgnoringCase(rest, "ohm") || EqualsIgnoringCase(rest, "ohms") ||
           rest == "\xCE\xA9";
  }
  // A rate in hertz as SCPI and the data sheets write it.
  if (unit == "S/s" && EqualsIgnoringCase(rest, "Hz")) return true;
  return EqualsIgnoringCase(rest, unit);
}

std::string_view TrimSpaces(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

// The number a text starts with and what follows it, or why there is none.
struct Leading {
  double number = 0.0;
  std::string_view rest;
  std::string problem;
};

Leading ReadLeadingNumber(std::string_view text) {
  std::string_view digits = TrimSpaces(text);
  // One '+' may lead; the number itself starts right after it ("+-1" is no
  // number).
  const bool plus = !digits.empty() && digits.front() == '+';
  if (plus) digits.remove_prefix(1);
  // DoubleFromChars reads inf and nan too, which are no numbers here.
  const bool startsANumber =
      !digits.empty() && ((digits.front() == '-' && !plus) || digits.front() == '.' ||
                          (digits.front() >= '0' && digits.front() <= '9'));
  double number = 0.0;
  const auto [end, error] =
      startsANumber ? DoubleFromChars(digits.data(), digits.data() + digits.size(), number)
                    : std::from_chars_result{digits.data(), std::errc::invalid_argument};
  if (error == std::errc::result_out_of_range) return {0.0, {}, "beyond the range of numbers"};
  if (error != std::errc() || !std::isfinite(number)) return {0.0, {}, "no number"};
  const std::string_view rest =
      TrimSpaces(digits.substr(static_cast<std::size_t>(end - digits.data())));
  return {number, rest, {}};
}

// What follows a number that is not part of it.
std::string Trailing(std::string_view rest) {
  // Appended piece by piece, here and below: gcc 12 warns wrongly of an
  // overlap where a one-character literal and a string are added (-Wrestrict).
  std::string problem(1, '\'');
  problem.append(rest);
  problem += "' after the number";
  if (rest.front() == ',') problem += "; '.' is the decimal point";
  return problem;
}

// The value, or why the text holds none.
struct Read {
  double value = 0.0;
  std::string problem;
};

Read ReadNumber(std::string_view text) {
  const Leading leading = ReadLeadingNumber(text);
  if (!leading.problem.empty()) return {0.0, leading.problem};
  if (!leading.rest.empty()) return {0.0, Trailing(leading.rest)};
  return {leading.number, {}};
}

// Why `rest` after a number is neither a prefix nor the unit; SCPI's
// prefixes ignore case, so "10NF" is the likely slip.
std::string PrefixProblem(std::string_view rest, std::string_view unit) {
  for (const Prefix& prefix : kPrefixes) {
    if (prefix.symbol.size() == 1 && rest.size() > 1 &&
        Lower(rest.front()) == Lower(prefix.symbol.front()) && IsUnit(rest.substr(1), unit)) {
      std::string problem(1, '\'');
      problem += rest.front();
      problem += "' is no SI prefix; prefixes keep their case, ";
      problem.append(prefix.symbol);
      problem += " is ";
      problem.append(prefix.name);
      return problem;
    }
  }
  return Trailing(rest) + ", which is neither an SI prefix (p n u m k M G) nor the unit " +
         std::string(unit);
}

Read ReadEngineeringValue(std::string_view text, std::string_view unit) {
  const Leading leading = ReadLeadingNumber(text);
  if (!leading.problem.empty()) return {0.0, leading.problem};
  if (leading.number <= 0) return {0.0, "not above 0"};
  const std::string_view rest = leading.rest;
  if (rest.empty() || IsUnit(rest, unit)) return {leading.number, {}};
  for (const Prefix& prefix : kPrefixes) {
    if (rest.substr(0, prefix.symbol.size()) == prefix.symbol) {
      const std::string_view tail = rest.substr(prefix.symbol.size());
      if (tail.empty() || IsUnit(tail, unit)) {
        const double value = leading.number * prefix.factor;
        if (std::isfinite(value) && value > 0) return {value, {}};
        return {0.0, "beyond the range of numbers"};
      }
    }
  }
  return {0.0, PrefixProblem(rest, unit)};
}

}  // namespace

std::optional<double> ParseNumber(std::string_view text) {
  const Read read = ReadNumber(text);
  return read.problem.empty() ? std::optional(read.value) : std::nullopt;
}

std::string NumberProblem(std::string_view text) {
  return ReadNumber(text).problem;
}

std::optional<double> ParseEngineeringValue(std::string_view text, std::string_view unit) {
  const Read read = ReadEngineeringValue(text, unit);
  return read.problem.empty() ? std::optional(read.value) : std::nullopt;
}

std::string EngineeringValueProblem(std::string_view text, std::string_view unit) {
  return ReadEngineeringValue(text, unit).problem;
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
