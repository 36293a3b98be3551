#pragma once

#include <cstddef>
#include <optional>

namespace capmeter {

// Count, mean, spread and extremes of values as they arrive, in constant
// memory, for series too long to keep and sort. The mean and spread follow
// Welford's update, which keeps its digits where summing squares would not.
class RunningStatistics {
 public:
  void Add(double value);

  std::size_t Count() const { return count_; }
  double Mean() const { return mean_; }  // 0 without values
  // The sample standard deviation, as Describe gives it; none below two values.
  std::optional<double> StandardDeviation() const;
  double Minimum() const { return minimum_; }  // 0 without values
  double Maximum() const { return maximum_; }  // 0 without values

 private:
  std::size_t count_ = 0;
  double mean_ = 0.0;
  double squares_ = 0.0;  // sum of squared deviations from the running mean
  double minimum_ = 0.0;
  double maximum_ = 0.0;
};

}  // namespace capmeter
