#include "monitor/axis_scale.h"

#include <algorithm>
#include <cmath>

namespace capmeter {

namespace {

// Lets a quotient that is a whole number but for rounding count as one.
constexpr double kSlack = 1e-9;

// The smallest of 1, 2 or 5 x 10^n that is at least `wanted` (> 0).
double RoundStep(double wanted) {
  const double power = std::pow(10.0, std::floor(std::log10(wanted)));
  for (const double mantissa : {1.0, 2.0, 5.0}) {
    if (mantissa * power >= wanted * (1.0 - kSlack)) {
      return mantissa * power;
    }
  }
  return 10.0 * power;
}

}  // namespace

int AxisScale::Ticks() const {
  return static_cast<int>(std::lround((high - low) / step)) + 1;
}

int AxisScale::Decimals() const {
  return std::max(0, static_cast<int>(std::ceil(-std::log10(step) - kSlack)));
}

AxisScale RoundScale(double low, double high, int ticks) {
  if (high <= low) {
    const double room = std::max(std::abs(high) * 1e-6, 1e-12);
    low = high - room;
    high += room;
  }
  const double step = RoundStep((high - low) / std::max(ticks - 1, 1));
  return {std::floor(low / step + kSlack) * step, std::ceil(high / step - kSlack) * step, step};
}

AxisScale CountScale(double tallest, int ticks) {
  const AxisScale scale = RoundScale(0.0, tallest, ticks);
  return scale.step < 1.0 ? AxisScale{0.0, std::ceil(scale.high), 1.0} : scale;
}

}  // namespace capmeter
