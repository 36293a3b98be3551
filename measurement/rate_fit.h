#pragma once

#include <cstddef>
#include <vector>

namespace capmeter {

// The sample rate as one slope through the times samples arrived: each
// stretch between two purges (the rate measurement, then every streamed
// reading) is a segment of (seconds, samples) points with an intercept of
// its own, and every segment adds to the one slope, so the longer a series
// streams, the better its rate. A segment's points far below its line (a
// transfer handed over very late by a busy host) are left out. Each
// segment's points are kept only until the next begins.
class RateFit {
 public:
  struct Estimate {
    double rate = 0.0;           // samples a second; 0 before two points
    double relativeError = 1.0;  // the rate's standard error over the rate
    double seconds = 0.0;        // the span the points cover, all segments
    std::size_t points = 0;
  };

  // A new stretch; the last one's points count from here on.
  void BeginSegment();
  void Add(double seconds, double samples);
  // Drops the present segment, as for a stream that paused.
  void DropSegment();
  // The slope through every segment so far, the present one included.
  Estimate Result() const;
  // The present segment's largest minus smallest residual, in samples.
  double SegmentResidualRange() const;

 private:
  struct Sums {
    double n = 0, sxx = 0, sxy = 0, syy = 0, span = 0;
  };
  // Which of the present segment's points are not far below its line
  // through `slope` (its own where 0).
  std::vector<bool> Kept(double slope) const;
  // The sums of the present segment, its far points left out.
  Sums Fold(double slope) const;

  Sums done_;  // the segments before the present one
  std::vector<double> seconds_;
  std::vector<double> samples_;
};

}  // namespace capmeter
