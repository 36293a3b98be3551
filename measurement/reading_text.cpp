#include "measurement/reading_text.h"

#include <array>
#include <cmath>
#include <limits>
#include <type_traits>

#include "measurement/float_chars.h"

namespace capmeter {

namespace {

// The shortest text that reads back as the same number: one call, to the
// standard library's conversion or the project's stand-in where it has none.
template <typename Number>
std::string Shortest(Number value) {
  std::array<char, 64> buffer{};
  const auto written =
      std::is_same_v<Number, float>
          ? FloatToChars(buffer.data(), buffer.data() + buffer.size(), static_cast<float>(value))
          : DoubleToChars(buffer.data(), buffer.data() + buffer.size(), static_cast<double>(value));
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
  }
  return "?";
}

std::string MachineNumber(double value) {
  return Shortest(value);
}

std::string MachineNumber(float value) {
  return Shortest(value);
}

std::string ReadingCsvRow(const Reading& r) {
  const bool finite = r.microfarads && std::isfinite(*r.microfarads);
  return std::to_string(r.index) + ',' + (r.HasTime() ? MachineNumber(r.seconds) : "") + ',' +
         (finite ? MachineNumber(*r.microfarads) : "") + ',' + OutcomeWord(r.outcome);
}

}  // namespace capmeter
