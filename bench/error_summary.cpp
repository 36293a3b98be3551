#include "bench/error_summary.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace capmeter::bench {

double Median(std::vector<double> values) {
  if (values.empty()) {
    return 0.0;
  }
  const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
  std::nth_element(values.begin(), middle, values.end());
  if (values.size() % 2 == 1) {
    return *middle;
  }
  const double below = *std::max_element(values.begin(), middle);
  return (below + *middle) / 2.0;
}

ErrorSummary Summarize(const std::vector<double>& errors) {
  std::vector<double> magnitudes;
  magnitudes.reserve(errors.size());
  for (const double error : errors) {
    magnitudes.push_back(std::fabs(error));
  }
  ErrorSummary summary;
  summary.medianSigned = Median(errors);
  summary.medianAbs = Median(magnitudes);
  summary.worstAbs =
      magnitudes.empty() ? 0.0 : *std::max_element(magnitudes.begin(), magnitudes.end());
  return summary;
}

}  // namespace capmeter::bench
