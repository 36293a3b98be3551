#include "monitor/histogram.h"

#include <algorithm>
#include <cmath>

namespace capmeter {

namespace {
// The first bins are this fraction of the first value wide: finer than any
// reading's resolution, and a few dozen doublings reach any spread.
constexpr double kFirstRelativeWidth = 0x1p-24;
constexpr double kFirstWidthAtZero = 1e-15;
}  // namespace

void Histogram::Add(double value) {
  if (!std::isfinite(value)) {
    return;
  }
  if (total_ == 0) {
    width_ = value != 0.0 ? std::abs(value) * kFirstRelativeWidth : kFirstWidthAtZero;
    origin_ = value - width_ * (kBins / 2);
  }
  while (value < origin_) {
    Widen(true);
  }
  while (value >= origin_ + width_ * kBins) {
    Widen(false);
  }
  const auto bin = static_cast<int>(std::floor((value - origin_) / width_));
  ++counts_[static_cast<std::size_t>(std::clamp(bin, 0, kBins - 1))];
  ++total_;
}

void Histogram::Widen(bool downwards) {
  // Downwards the old bins become the upper half of the new range.
  const int shift = downwards ? kBins : 0;
  std::array<std::uint64_t, kBins> merged{};
  for (int i = 0; i < kBins; ++i) {
    merged[static_cast<std::size_t>((i + shift) / 2)] += counts_[static_cast<std::size_t>(i)];
  }
  counts_ = merged;
  if (downwards) {
    origin_ -= width_ * kBins;
  }
  width_ *= 2.0;
}

std::vector<Histogram::Bin> Histogram::Occupied() const {
  std::vector<Bin> bins;
  const auto first = std::find_if(counts_.begin(), counts_.end(), [](auto c) { return c > 0; });
  if (first == counts_.end()) {
    return bins;
  }
  const auto last = std::find_if(counts_.rbegin(), counts_.rend(), [](auto c) { return c > 0; });
  for (auto i = first - counts_.begin(); i < counts_.rend() - last; ++i) {
    const double lower = origin_ + width_ * static_cast<double>(i);
    bins.push_back({lower, lower + width_, counts_[static_cast<std::size_t>(i)]});
  }
  return bins;
}

}  // namespace capmeter
