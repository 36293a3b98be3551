#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace capmeter {

// Counts of values in equal bins, built as the values arrive. The bins start
// narrow around the first value; a value outside them doubles their width by
// merging neighbours, so the counts stay exact, the memory fixed and each
// value costs constant time on average, however long the run.
class Histogram {
 public:
  static constexpr int kBins = 64;  // even, so neighbours pair up

  struct Bin {
    double lower = 0.0;  // inclusive
    double upper = 0.0;  // exclusive
    std::uint64_t count = 0;
  };

  // Values that are not finite are not counted.
  void Add(double value);

  std::uint64_t Total() const { return total_; }
  // The bins from the first to the last that holds a value; none while empty.
  std::vector<Bin> Occupied() const;

 private:
  void Widen(bool downwards);

  double origin_ = 0.0;  // lower edge of the first bin
  double width_ = 0.0;
  std::array<std::uint64_t, kBins> counts_{};
  std::uint64_t total_ = 0;
};

}  // namespace capmeter
