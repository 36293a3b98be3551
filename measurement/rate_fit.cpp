#include "measurement/rate_fit.h"

#include <algorithm>
#include <cmath>

namespace capmeter {

namespace {

// The stretch of time each of whose points only the least late counts.
constexpr double kBinSeconds = 0.010;

// Least squares within one segment: the slope that `sums` hold alone.
double SlopeOf(double sxy, double sxx) {
  return sxx > 0.0 ? sxy / sxx : 0.0;
}

}  // namespace

void RateFit::BeginSegment() {
  const Estimate now = Result();
  const Sums segment = Fold(now.rate);
  done_.n += segment.n;
  done_.sxx += segment.sxx;
  done_.sxy += segment.sxy;
  done_.syy += segment.syy;
  done_.span += segment.span;
  seconds_.clear();
  samples_.clear();
}

void RateFit::DropSegment() {
  seconds_.clear();
  samples_.clear();
}

void RateFit::Add(double seconds, double samples) {
  seconds_.push_back(seconds);
  samples_.push_back(samples);
}

std::vector<bool> RateFit::Kept(double slope) const {
  const std::size_t n = seconds_.size();
  std::vector<bool> keep(n, true);
  if (n < 3) return keep;
  double mx = 0, my = 0, sxx = 0, sxy = 0;
  for (std::size_t i = 0; i < n; ++i) {
    mx += seconds_[i];
    my += samples_[i];
  }
  mx /= static_cast<double>(n);
  my /= static_cast<double>(n);
  for (std::size_t i = 0; i < n; ++i) {
    sxx += (seconds_[i] - mx) * (seconds_[i] - mx);
    sxy += (seconds_[i] - mx) * (samples_[i] - my);
  }
  // Around the slope known so far, or the segment's own at first.
  const double b = slope > 0.0 ? slope : SlopeOf(sxy, sxx);
  std::vector<double> residuals(n);
  for (std::size_t i = 0; i < n; ++i) residuals[i] = samples_[i] - my - b * (seconds_[i] - mx);
  std::vector<double> sorted = residuals;
  const auto middle = sorted.begin() + static_cast<std::ptrdiff_t>(n / 2);
  std::nth_element(sorted.begin(), middle, sorted.end());
  const double median = *middle;
  for (double& r : sorted) r = std::abs(r - median);
  std::nth_element(sorted.begin(), middle, sorted.end());
  // Far: more than eight robust standard deviations below, and more than a
  // sample, so an exact stream keeps every point.
  const double far = std::max(1.0, 8.0 * 1.4826 * *middle);
  for (std::size_t i = 0; i < n; ++i) keep[i] = residuals[i] - median > -far;
  // Samples are only ever handed over late, never early, and a late host
  // stays late for a while: of each stretch of kBinSeconds only the point
  // least late counts, so the slope follows the line the chip's clock draws
  // and the error it states covers a lateness that wanders.
  std::vector<bool> chosen(n, false);
  for (std::size_t i = 0; i < n;) {
    const double start = seconds_[i];
    std::size_t best = n;
    for (; i < n && seconds_[i] < start + kBinSeconds; ++i) {
      if (keep[i] && (best == n || residuals[i] > residuals[best])) best = i;
    }
    if (best != n) chosen[best] = true;
  }
  return chosen;
}

RateFit::Sums RateFit::Fold(double slope) const {
  const std::vector<bool> keep = Kept(slope);
  Sums s;
  double mx = 0, my = 0;
  for (std::size_t i = 0; i < keep.size(); ++i) {
    if (!keep[i]) continue;
    mx += seconds_[i];
    my += samples_[i];
    s.n += 1;
  }
  if (s.n < 2) return Sums{};
  mx /= s.n;
  my /= s.n;
  double low = 1e300, high = -1e300;
  for (std::size_t i = 0; i < keep.size(); ++i) {
    if (!keep[i]) continue;
    const double dx = seconds_[i] - mx, dy = samples_[i] - my;
    s.sxx += dx * dx;
    s.sxy += dx * dy;
    s.syy += dy * dy;
    low = std::min(low, seconds_[i]);
    high = std::max(high, seconds_[i]);
  }
  s.span = high - low;
  return s;
}

RateFit::Estimate RateFit::Result() const {
  // The present segment folded around the slope of the others, or its own.
  const double before = SlopeOf(done_.sxy, done_.sxx);
  const Sums segment = Fold(before);
  Sums total = done_;
  total.n += segment.n;
  total.sxx += segment.sxx;
  total.sxy += segment.sxy;
  total.syy += segment.syy;
  total.span += segment.span;
  Estimate estimate;
  estimate.points = static_cast<std::size_t>(total.n);
  estimate.seconds = total.span;
  if (total.sxx <= 0.0 || total.n < 3) return estimate;
  estimate.rate = total.sxy / total.sxx;
  const double residual = std::max(0.0, total.syy - estimate.rate * total.sxy);
  const double variance = residual / std::max(1.0, total.n - 2.0);
  const double standardError = std::sqrt(variance / total.sxx);
  estimate.relativeError = estimate.rate > 0.0 ? standardError / estimate.rate : 1.0;
  return estimate;
}

double RateFit::SegmentResidualRange() const {
  const Estimate e = Result();
  if (seconds_.size() < 2 || !(e.rate > 0.0)) return 0.0;
  // The points a late host handed over are not a pause: only those kept.
  const std::vector<bool> keep = Kept(SlopeOf(done_.sxy, done_.sxx));
  double low = 1e300, high = -1e300;
  for (std::size_t i = 0; i < seconds_.size(); ++i) {
    if (!keep[i]) continue;
    const double r = samples_[i] - e.rate * (seconds_[i] - seconds_.front());
    low = std::min(low, r);
    high = std::max(high, r);
  }
  return high > low ? high - low : 0.0;
}

}  // namespace capmeter
