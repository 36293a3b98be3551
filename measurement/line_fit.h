#pragma once

#include <span>

namespace capmeter {

struct FitPoint {
  double x = 0.0;  // the charge time, seconds
  double y = 0.0;  // the known capacitance, microfarads
};

// y = slope * x + intercept.
struct Line {
  double slope = 0.0;
  double intercept = 0.0;

  double At(double x) const { return slope * x + intercept; }
  // How far the point lies from the line, measured minus fitted.
  double Residual(const FitPoint& p) const { return p.y - At(p.x); }
};

// Two y values that differ only by rounding (1u and 1000n in farads made
// microfarads) are one level.
bool SameLevel(double a, double b);

enum class FitProblem {
  None,
  TooFewLevels,  // fewer than two different y values: no line is pinned down
  NoSpread,      // all x (practically) the same: the slope would be infinite
};

struct LineFit {
  Line line;
  FitProblem problem = FitProblem::None;
};

// The least-squares straight line through the points (ordinary least
// squares, y on x).
LineFit FitLine(std::span<const FitPoint> points);

}  // namespace capmeter
