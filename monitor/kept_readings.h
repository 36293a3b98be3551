#pragma once

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "measurement/line_fit.h"
#include "measurement/series.h"

namespace capmeter {

// Every reading since the last Clear, in about half a Reading's room (a
// million fit in 24 MB): the capacitance is worked out again from the time
// and the calibration line of its series, exactly as the series did.
class KeptReadings {
 public:
  // Readings added after this belong to a series with this calibration.
  void BeginSeries(const Line& calibration);
  void Add(const Reading& reading);
  void Clear();

  std::size_t Size() const { return readings_.size(); }
  void ForEach(const std::function<void(const Reading&)>& visit) const;

 private:
  struct Kept {
    std::int64_t endedAtMilliseconds;  // since the epoch: all a log shows
    std::uint32_t index;
    float seconds;
    float boundSeconds;
    MeasureOutcome outcome;
  };

  std::vector<Kept> readings_;
  // From which kept reading on each calibration counts.
  std::vector<std::pair<std::size_t, Line>> calibrations_;
};

}  // namespace capmeter
