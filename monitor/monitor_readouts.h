#pragma once

#include <array>

#include "monitor/series_tally.h"

class QFormLayout;
class QLabel;

namespace capmeter {

// The monitor's readouts: running statistics of the points, error counts,
// and pass and fail counts with the verdict on the last reading, each a
// label that a screen reader names. The labels belong to whichever widget
// their rows are laid out in.
class MonitorReadouts final {
 public:
  MonitorReadouts();

  // Points, last, mean, deviation, extremes, read errors and time-outs.
  void AddStatisticsRows(QFormLayout& form) const;
  // Passes, fails and the last verdict.
  void AddVerdictRows(QFormLayout& form) const;
  void Show(const TallyPicture& picture);

 private:
  // The readouts in the order of their rows: the statistics, then the
  // verdicts, the last verdict last.
  enum Row {
    kPoints,
    kLast,
    kLastBound,
    kMean,
    kDeviation,
    kMinimum,
    kMaximum,
    kReadErrors,
    kTimeOuts,
    kBelowRange,
    kPasses,
    kFails,
    kVerdict,
    kRows
  };

  void AddRows(QFormLayout& form, int first, int end) const;

  std::array<QLabel*, kRows> labels_{};
};

}  // namespace capmeter
