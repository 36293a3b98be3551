#pragma once

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
  QLabel* points_ = nullptr;
  QLabel* last_ = nullptr;
  QLabel* mean_ = nullptr;
  QLabel* deviation_ = nullptr;
  QLabel* minimum_ = nullptr;
  QLabel* maximum_ = nullptr;
  QLabel* readErrors_ = nullptr;
  QLabel* timeOuts_ = nullptr;
  QLabel* passes_ = nullptr;
  QLabel* fails_ = nullptr;
  QLabel* verdict_ = nullptr;
};

}  // namespace capmeter
