#pragma once

#include <cmath>
#include <cstddef>
#include <optional>
#include <span>

namespace capmeter {

// A set of readings boiled down. All zero for no values.
struct Statistics {
  std::size_t count = 0;
  double mean = 0.0;
  // The sample standard deviation (divided by count - 1); none below two
  // values, where there is no spread to speak of.
  std::optional<double> standardDeviation;
  double minimum = 0.0;
  double median = 0.0;  // the mean of the middle two for an even count
  double maximum = 0.0;

  // The mean's standard error: the standard deviation over √count.
  std::optional<double> StandardError() const {
    if (!standardDeviation) return std::nullopt;
    return *standardDeviation / std::sqrt(static_cast<double>(count));
  }
};

Statistics Describe(std::span<const double> values);

}  // namespace capmeter
