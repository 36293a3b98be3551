#include "monitor/kept_readings.h"

#include <chrono>

namespace capmeter {

void KeptReadings::BeginSeries(const Line& calibration) {
  calibrations_.emplace_back(readings_.size(), calibration);
}

void KeptReadings::Add(const Reading& reading) {
  if (calibrations_.empty()) {
    BeginSeries(Line{});
  }
  const auto endedAt = std::chrono::time_point_cast<std::chrono::milliseconds>(reading.endedAt);
  readings_.push_back({endedAt.time_since_epoch().count(),
                       static_cast<std::uint32_t>(reading.index), reading.seconds,
                       reading.boundSeconds, reading.outcome});
}

void KeptReadings::Clear() {
  readings_.clear();
  readings_.shrink_to_fit();
  const Line current = calibrations_.empty() ? Line{} : calibrations_.back().second;
  calibrations_.assign(1, {0, current});
}

void KeptReadings::ForEach(const std::function<void(const Reading&)>& visit) const {
  auto calibration = calibrations_.begin();
  for (std::size_t i = 0; i < readings_.size(); ++i) {
    while (calibration + 1 != calibrations_.end() && (calibration + 1)->first <= i) {
      ++calibration;
    }
    const Kept& kept = readings_[i];
    Reading reading;
    reading.index = static_cast<int>(kept.index);
    reading.outcome = kept.outcome;
    reading.endedAt =
        std::chrono::system_clock::time_point(std::chrono::milliseconds(kept.endedAtMilliseconds));
    if (reading.HasTime()) {
      reading.seconds = kept.seconds;
      reading.boundSeconds = kept.boundSeconds;
      const Line& line = calibration->second;
      if (line.slope != 0.0) {
        reading.microfarads = line.At(static_cast<double>(kept.seconds));
      }
    }
    visit(reading);
  }
}

}  // namespace capmeter
