#include "measurement/statistics.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace capmeter {

Statistics Describe(std::span<const double> values) {
  Statistics s;
  s.count = values.size();
  if (values.empty()) {
    return s;
  }
  std::vector<double> sorted(values.begin(), values.end());
  std::sort(sorted.begin(), sorted.end());
  s.minimum = sorted.front();
  s.maximum = sorted.back();
  const std::size_t half = sorted.size() / 2;
  s.median = sorted.size() % 2 == 1 ? sorted[half] : (sorted[half - 1] + sorted[half]) / 2.0;

  double sum = 0.0;
  for (const double v : values) sum += v;
  s.mean = sum / static_cast<double>(s.count);
  if (s.count >= 2) {
    // Two passes: the squares of deviations, not of the values, so readings
    // far from zero with a small spread keep their digits.
    double squares = 0.0;
    for (const double v : values) squares += (v - s.mean) * (v - s.mean);
    s.standardDeviation = std::sqrt(squares / static_cast<double>(s.count - 1));
  }
  return s;
}

}  // namespace capmeter
