#pragma once

#include <cstddef>
#include <vector>

namespace capmeter {

// The trend chart's data, decimated as it arrives: points fall in order into
// at most `columns` buckets of equal count, and when all are full neighbours
// merge and every bucket takes twice as many. A bucket keeps its span of time
// and its lowest and highest value, so the drawing keeps every peak however
// long the run, in memory set by the screen's width. Readings without a value
// count in their bucket as failures, to be marked, never as values.
class Trend {
 public:
  struct Column {
    double first = 0.0;  // elapsed seconds of its first and last entry
    double last = 0.0;
    double low = 0.0;  // extremes of its values, when it has any
    double high = 0.0;
    std::size_t values = 0;
    std::size_t failures = 0;

    double Middle() const { return (first + last) / 2.0; }
  };

  explicit Trend(std::size_t columns);

  void AddValue(double elapsedSeconds, double value);
  void AddFailure(double elapsedSeconds);

  const std::vector<Column>& Columns() const { return columns_; }
  std::size_t PerColumn() const { return perColumn_; }

 private:
  Column& Next(double elapsedSeconds);

  std::size_t capacity_;
  std::size_t perColumn_ = 1;
  std::size_t inLast_ = 0;  // entries in the last column
  std::vector<Column> columns_;
};

}  // namespace capmeter
