#pragma once

#include <vector>

namespace capmeter::bench {

// A row's timing errors (measured minus true, in seconds) boiled down.
struct ErrorSummary {
  double medianSigned = 0.0;  // shows a bias: which way the errors lean
  double medianAbs = 0.0;
  double worstAbs = 0.0;
};

// Median of the values; the mean of the middle two for an even count, 0 for
// none.
double Median(std::vector<double> values);

ErrorSummary Summarize(const std::vector<double>& errors);

}  // namespace capmeter::bench
