#pragma once

#include <cstdint>
#include <optional>

#include "measurement/line_fit.h"
#include "measurement/running_statistics.h"
#include "measurement/series.h"
#include "monitor/histogram.h"
#include "monitor/kept_readings.h"
#include "monitor/trend.h"

namespace capmeter {

// A pass lies within these bounds, inclusive, in the unit of the points.
struct Limits {
  double lower = 0.0;
  double upper = 0.0;

  // Nominal value less and plus tolerances in percent of its size.
  static Limits Around(double nominal, double lowerPercent, double upperPercent);
  bool Pass(double value) const { return value >= lower && value <= upper; }
};

enum class Verdict { NoLimits, Pass, Fail };

// What the views show. Points are means of `readingsPerPoint` readings: of the
// capacitance in microfarads, or of the time in seconds while m is 0.
struct TallyPicture {
  explicit TallyPicture(std::size_t trendColumns) : trend(trendColumns) {}

  bool microfarads = false;  // the points' unit; seconds otherwise
  RunningStatistics points;
  std::uint64_t readErrors = 0;
  std::uint64_t timeOuts = 0;
  std::uint64_t belowRange = 0;
  std::uint64_t passes = 0;
  std::uint64_t fails = 0;
  std::optional<MeasureOutcome> lastOutcome;  // of the last reading
  std::optional<double> lastPoint;
  std::optional<double> lastBoundSeconds;   // of the last reading with a time
  Verdict lastVerdict = Verdict::NoLimits;  // of the last point
  Histogram histogram;
  Trend trend;  // over elapsed seconds
};

// The monitor's readings boiled down as they arrive: running statistics,
// histogram, decimated trend, limit verdicts, error counts, and every reading
// kept to be saved. Hold freezes what is shown while the tally goes on.
class SeriesTally {
 public:
  explicit SeriesTally(std::size_t trendColumns);

  // A series begins: its calibration, and how many readings make a point. A
  // change between time and capacitance starts the views afresh.
  void BeginSeries(const Line& calibration, int readingsPerPoint);
  // One reading, `elapsedSeconds` after the start of the first series since
  // the last Clear.
  void Add(const Reading& reading, double elapsedSeconds);

  // Pass and fail counts start again under new limits; none: no verdicts.
  void SetLimits(std::optional<Limits> limits);
  void SetHold(bool hold);
  bool Held() const { return held_.has_value(); }
  // Forgets the readings, the statistics and the views.
  void Clear();

  const TallyPicture& Shown() const { return held_ ? *held_ : live_; }
  const KeptReadings& Kept() const { return kept_; }

 private:
  void AddPoint(double value, double elapsedSeconds);

  std::size_t trendColumns_;
  TallyPicture live_;
  std::optional<TallyPicture> held_;
  KeptReadings kept_;
  std::optional<Limits> limits_;
  int readingsPerPoint_ = 1;
  // The point being gathered.
  int pointReadings_ = 0;
  int pointValues_ = 0;
  double pointSum_ = 0.0;
};

}  // namespace capmeter
