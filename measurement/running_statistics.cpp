#include "measurement/running_statistics.h"

#include <algorithm>
#include <cmath>

namespace capmeter {

void RunningStatistics::Add(double value) {
  ++count_;
  if (count_ == 1) {
    minimum_ = maximum_ = value;
  } else {
    minimum_ = std::min(minimum_, value);
    maximum_ = std::max(maximum_, value);
  }
  const double before = value - mean_;
  mean_ += before / static_cast<double>(count_);
  squares_ += before * (value - mean_);
}

std::optional<double> RunningStatistics::StandardDeviation() const {
  if (count_ < 2) {
    return std::nullopt;
  }
  return std::sqrt(squares_ / static_cast<double>(count_ - 1));
}

}  // namespace capmeter
