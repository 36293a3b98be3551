#include "monitor/series_tally.h"

#include <algorithm>
#include <cmath>

namespace capmeter {

Limits Limits::Around(double nominal, double lowerPercent, double upperPercent) {
  const double size = std::abs(nominal);
  return {nominal - size * lowerPercent / 100.0, nominal + size * upperPercent / 100.0};
}

SeriesTally::SeriesTally(std::size_t trendColumns)
    : trendColumns_(trendColumns), live_(trendColumns) {}

void SeriesTally::BeginSeries(const Line& calibration, int readingsPerPoint) {
  const bool microfarads = calibration.slope != 0.0;
  if (microfarads != live_.microfarads) {
    const bool empty =
        live_.points.Count() == 0 && live_.readErrors + live_.timeOuts + live_.belowRange == 0;
    if (!empty) {
      live_ = TallyPicture(trendColumns_);
    }
    live_.microfarads = microfarads;
  }
  kept_.BeginSeries(calibration);
  readingsPerPoint_ = std::max(1, readingsPerPoint);
  pointReadings_ = pointValues_ = 0;
  pointSum_ = 0.0;
}

void SeriesTally::Add(const Reading& reading, double elapsedSeconds) {
  kept_.Add(reading);
  live_.lastOutcome = reading.outcome;
  if (reading.outcome == MeasureOutcome::ReadError) {
    ++live_.readErrors;
    live_.trend.AddFailure(elapsedSeconds);
  } else if (reading.outcome == MeasureOutcome::TimedOut) {
    ++live_.timeOuts;
    live_.trend.AddFailure(elapsedSeconds);
  } else if (reading.outcome == MeasureOutcome::BelowRange) {
    ++live_.belowRange;
    live_.trend.AddFailure(elapsedSeconds);
  } else if (reading.HasTime()) {
    live_.lastBoundSeconds = reading.boundSeconds;
    const double value = live_.microfarads ? reading.microfarads.value_or(NAN)
                                           : static_cast<double>(reading.seconds);
    // An infinite capacitance (a slope beyond the double range) is no point.
    if (std::isfinite(value)) {
      pointSum_ += value;
      ++pointValues_;
    }
  }
  if (++pointReadings_ == readingsPerPoint_) {
    if (pointValues_ > 0) {
      AddPoint(pointSum_ / pointValues_, elapsedSeconds);
    }
    pointReadings_ = pointValues_ = 0;
    pointSum_ = 0.0;
  }
}

void SeriesTally::AddPoint(double value, double elapsedSeconds) {
  live_.points.Add(value);
  live_.histogram.Add(value);
  live_.trend.AddValue(elapsedSeconds, value);
  live_.lastPoint = value;
  live_.lastVerdict = !limits_               ? Verdict::NoLimits
                      : limits_->Pass(value) ? Verdict::Pass
                                             : Verdict::Fail;
  if (live_.lastVerdict == Verdict::Pass) {
    ++live_.passes;
  } else if (live_.lastVerdict == Verdict::Fail) {
    ++live_.fails;
  }
}

void SeriesTally::SetLimits(std::optional<Limits> limits) {
  limits_ = limits;
  live_.passes = live_.fails = 0;
  live_.lastVerdict = !limits_ || !live_.lastPoint      ? Verdict::NoLimits
                      : limits_->Pass(*live_.lastPoint) ? Verdict::Pass
                                                        : Verdict::Fail;
}

void SeriesTally::SetHold(bool hold) {
  if (hold && !held_) {
    held_ = live_;
  } else if (!hold) {
    held_.reset();
  }
}

void SeriesTally::Clear() {
  const bool microfarads = live_.microfarads;
  live_ = TallyPicture(trendColumns_);
  live_.microfarads = microfarads;
  if (held_) {
    held_ = live_;
  }
  kept_.Clear();
  pointReadings_ = pointValues_ = 0;
  pointSum_ = 0.0;
}

}  // namespace capmeter
