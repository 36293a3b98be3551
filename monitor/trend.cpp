#include "monitor/trend.h"

#include <algorithm>

namespace capmeter {

Trend::Trend(std::size_t columns) : capacity_(std::max<std::size_t>(2, columns & ~std::size_t{1})) {
  columns_.reserve(capacity_);
}

void Trend::AddValue(double elapsedSeconds, double value) {
  Column& column = Next(elapsedSeconds);
  column.low = column.values == 0 ? value : std::min(column.low, value);
  column.high = column.values == 0 ? value : std::max(column.high, value);
  ++column.values;
}

void Trend::AddFailure(double elapsedSeconds) {
  ++Next(elapsedSeconds).failures;
}

Trend::Column& Trend::Next(double elapsedSeconds) {
  if (!columns_.empty() && inLast_ < perColumn_) {
    ++inLast_;
    columns_.back().last = elapsedSeconds;
    return columns_.back();
  }
  if (columns_.size() == capacity_) {
    // All full: pairs merge, in place, into the first half.
    for (std::size_t i = 0; i < capacity_ / 2; ++i) {
      const Column& a = columns_[2 * i];
      const Column& b = columns_[2 * i + 1];
      Column merged{a.first, b.last, 0.0, 0.0, a.values + b.values, a.failures + b.failures};
      if (a.values > 0 && b.values > 0) {
        merged.low = std::min(a.low, b.low);
        merged.high = std::max(a.high, b.high);
      } else {
        const Column& valued = a.values > 0 ? a : b;
        merged.low = valued.low;
        merged.high = valued.high;
      }
      columns_[i] = merged;
    }
    columns_.resize(capacity_ / 2);
    perColumn_ *= 2;
  }
  columns_.push_back({elapsedSeconds, elapsedSeconds, 0.0, 0.0, 0, 0});
  inLast_ = 1;
  return columns_.back();
}

}  // namespace capmeter
