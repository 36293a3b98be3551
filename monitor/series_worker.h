#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "device/driver_library.h"
#include "device/ft_types.h"
#include "measurement/clock.h"
#include "measurement/reading_log.h"
#include "measurement/series.h"
#include "measurement/stop_switch.h"

namespace capmeter {

// One series at a time on a thread of its own, so the window never waits for
// a reading. Each reading is numbered on from `firstIndex`, written to the log
// at once (when there is one) and left in a mailbox that the window's thread
// empties on its timer; so is a streamed series' sample rate, as soon as it
// is measured.
class SeriesWorker {
 public:
  struct Arrival {
    Reading reading;
    Clock::Duration at;  // the clock's time when it arrived
  };
  // What the window's thread collects.
  struct Mail {
    std::vector<Arrival> arrivals;
    std::string logProblem;    // set once, when the log stopped
    double sampleRate = 0.0;   // set once, when a streamed series measured its sample clock
    std::string timingChosen;  // set once, when auto timing chose: what and why
    bool gaveUp = false;       // stopped after kFailuresToGiveUp read errors in a row
    std::string lastFailure;   // why the last of them happened
    bool finished = false;     // the series is over; Join() will not wait
  };

  // A device gone away fails every reading at once; a continuous series
  // would fill memory and the log with nothing else.
  static constexpr int kFailuresToGiveUp = 50;

  SeriesWorker(DriverLibrary& library, Clock& clock);
  ~SeriesWorker();  // stops and joins
  SeriesWorker(const SeriesWorker&) = delete;
  SeriesWorker& operator=(const SeriesWorker&) = delete;

  // `log` may be null, or a log that has stopped; it is the worker's until Join.
  void Start(FT_HANDLE handle, const SeriesSetup& setup, int firstIndex, ReadingLog* log);
  // Asks the series to stop; it does so within one poll.
  void RequestStop() { stop_.Press(); }
  // Waits for the thread to end (at once after RequestStop or a finished mail).
  void Join();
  bool Busy() const { return thread_.joinable(); }

  Mail Collect();

 private:
  void Run(FT_HANDLE handle, SeriesSetup setup, int firstIndex, ReadingLog* log);

  DriverLibrary& library_;
  Clock& clock_;
  StopSwitch stop_;
  std::thread thread_;
  std::mutex mailMutex_;
  Mail mail_;
};

}  // namespace capmeter
