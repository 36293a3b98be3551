#pragma once

namespace capmeter {

// A chart axis with tick marks at round values: the step is 1, 2 or 5 x 10^n
// and both ends are whole steps, so every label is a short number.
struct AxisScale {
  double low = 0.0;
  double high = 1.0;
  double step = 1.0;

  // Tick marks from low to high, both ends included.
  int Ticks() const;
  // Digits after the decimal point that a tick label needs.
  int Decimals() const;
};

// The scale around the data from `low` to `high` with about `ticks` tick
// marks (at least 2): the ends rounded outward to whole steps, and equal
// values given a little room either side.
AxisScale RoundScale(double low, double high, int ticks);

// The scale for whole counts from 0 to `tallest`: as RoundScale, but never a
// step below one, which would label 0, 0.2, ... 1 as "0 0 0 0 0 1".
AxisScale CountScale(double tallest, int ticks);

}  // namespace capmeter
