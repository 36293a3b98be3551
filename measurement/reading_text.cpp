#include "measurement/reading_text.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace capmeter {

namespace {

// The shortest text that reads back as the same number.
template <typename Number>
std::string Shortest(Number value) {
  std::array<char, 64> buffer{};
  const auto written = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
  return std::string(buffer.data(), written.ptr);
}

}  // namespace

const char* OutcomeWord(MeasureOutcome outcome) {
  switch (outcome) {
    case MeasureOutcome::ChargeTime:
      return "ok";
    case MeasureOutcome::ReadError:
      return "read error";
    case MeasureOutcome::TimedOut:
      return "timed out";
    case MeasureOutcome::Abandoned:
      return "abandoned";
    case MeasureOutcome::BelowRange:
      return "below range";
  }
  return "?";
}

std::string MachineNumber(double value) {
  return Shortest(value);
}

std::string MachineNumber(float value) {
  return Shortest(value);
}

std::string UtcTimeText(std::chrono::system_clock::time_point time) {
  using namespace std::chrono;
  const auto ms = floor<milliseconds>(time);
  const auto day = floor<days>(ms);
  const year_month_day date(day);
  const hh_mm_ss clock(ms - day);
  char text[32];
  std::snprintf(
      text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(date.year()),
      static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
      static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
      static_cast<int>(clock.seconds().count()), static_cast<int>(clock.subseconds().count()));
  return text;
}

std::string CsvField(std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
  std::string field = "\"";
  for (const char c : text) {
    field += c == '"' ? std::string("\"\"") : std::string(1, c);
  }
  return field + "\"";
}

std::string ReadingCsvRow(const Reading& r) {
  const bool finite = r.microfarads && std::isfinite(*r.microfarads);
  return std::to_string(r.index) + ',' + (r.HasTime() ? MachineNumber(r.seconds) : "") + ',' +
         (finite ? MachineNumber(*r.microfarads) : "") + ',' + OutcomeWord(r.outcome) + ',' +
         UtcTimeText(r.endedAt) + ',' + (r.HasTime() ? MachineNumber(r.boundSeconds) : "") + ',' +
         CsvField(r.failure);
}

}  // namespace capmeter
