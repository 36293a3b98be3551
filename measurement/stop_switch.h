#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "measurement/clock.h"
#include "measurement/series.h"

namespace capmeter {

// What stops a series: the monitor's Stop button, or a signal the
// command-line meter caught. A stop abandons the reading under way at its
// next poll and ends a pause between readings at once; the pause sleeps
// rather than spins, as pauses may be long. Any thread may press it (not a
// signal handler: the command-line meter presses it from a thread of its
// own).
class StopSwitch {
 public:
  // The cause when none is given: the Stop button.
  static constexpr int kStopped = 1;

  void Press(int cause = kStopped);
  void Reset();
  // Why it was pressed, or 0.
  int Cause() const { return cause_.load(); }
  // Lets `span` pass, or less once pressed.
  void Rest(Clock::Duration span);
  // The switch as a series sees it.
  SeriesControl Control();

 private:
  std::atomic<int> cause_{0};
  std::mutex mutex_;
  std::condition_variable pressedOrDue_;
};

}  // namespace capmeter
