#include "measurement/reading_text.h"

#include <array>
#include <cmath>
#include <limits>
#include <type_traits>

#include "measurement/float_chars.h"

namespace capmeter {

namespace {

// The fewest significant digits that read back as the same number. The
// conversions are the project's own, as the standard library's floating-point
// ones are missing in some libraries.
template <typename Number>
std::string Shortest(Number value) {
  if (!std::isfinite(value)) {
    return value != value ? "nan" : value < 0 ? "-inf" : "inf";
  }
  constexpr int kMostDigits = std::numeric_limits<Number>::max_digits10;
  std::array<char, 64> buffer{};
  char* const last = buffer.data() + buffer.size();
  for (int digits = 1;; ++digits) {
    const auto written = std::is_same_v<Number, float>
                             ? FloatToChars(buffer.data(), last, static_cast<float>(value),
                                            std::chars_format::general, digits)
                             : DoubleToChars(buffer.data(), last, static_cast<double>(value),
                                             std::chars_format::general, digits);
    double back = 0.0;
    DoubleFromChars(buffer.data(), written.ptr, back);
    if (static_cast<Number>(back) == value || digits >= kMostDigits) {
      return std::string(buffer.data(), written.ptr);
    }
  }
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
