#include "measurement/line_fit.h"

#include <cmath>

namespace capmeter {

namespace {

// Spreads of x below this share of x's own size are rounding noise, not
// a spread a slope can be built on.
constexpr double kRelativeSpread = 1e-9;
constexpr double kRelativeLevel = 1e-9;

}  // namespace

bool SameLevel(double a, double b) {
  return std::fabs(a - b) <= kRelativeLevel * std::fmax(std::fabs(a), std::fabs(b));
}

LineFit FitLine(std::span<const FitPoint> points) {
  bool twoLevels = false;
  for (const FitPoint& p : points) {
    twoLevels = twoLevels || !SameLevel(p.y, points.front().y);
  }
  if (!twoLevels) {
    return {{}, FitProblem::TooFewLevels};
  }

  const double n = static_cast<double>(points.size());
  double meanX = 0.0;
  double meanY = 0.0;
  for (const FitPoint& p : points) {
    meanX += p.x;
    meanY += p.y;
  }
  meanX /= n;
  meanY /= n;
  // Sums about the means: times of a few milliseconds with a spread of
  // microseconds lose nothing this way.
  double sxx = 0.0;
  double sxy = 0.0;
  for (const FitPoint& p : points) {
    sxx += (p.x - meanX) * (p.x - meanX);
    sxy += (p.x - meanX) * (p.y - meanY);
  }
  const double spread = std::sqrt(sxx / n);
  if (!(spread > kRelativeSpread * std::fabs(meanX)) || !std::isfinite(sxx)) {
    return {{}, FitProblem::NoSpread};
  }
  const double slope = sxy / sxx;
  return {{slope, meanY - slope * meanX}, FitProblem::None};
}

}  // namespace capmeter
