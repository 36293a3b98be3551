#pragma once

#include <asio/io_context.hpp>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

#include "scpi/instrument.h"

namespace capmeter::cli {

// The instrument's own thread, shared by every channel (the raw socket and
// VXI-11): messages run one at a time, in the order they arrive from
// whichever channel, so the error queue and settings are one instrument's.
class InstrumentThread {
 public:
  struct Job {
    std::string line;    // one message, without its LF
    int inputError = 0;  // instead: what the channel noticed before parsing
    // Asked during a reading, on the instrument's thread: true abandons it
    // (its client went away, or cleared the device).
    std::function<bool()> abandoned;
    // The answer, handed back on the network's thread; may be empty.
    std::function<void(std::string)> answered;
  };

  InstrumentThread(asio::io_context& io, scpi::Instrument& instrument)
      : io_(io), instrument_(instrument) {}

  void Submit(Job job);
  // Runs the jobs until Stop; a stop signal abandons the reading under way.
  void Run(const std::function<int()>& stopSignal);
  void Stop();

  // The Status Byte without MAV, at once: a serial poll waits for no reading.
  int StatusByteNow() const { return instrument_.StatusByteNow(); }

 private:
  asio::io_context& io_;
  scpi::Instrument& instrument_;
  std::mutex mutex_;  // guards jobs_ and stopping_
  std::condition_variable wake_;
  std::deque<Job> jobs_;
  bool stopping_ = false;
};

}  // namespace capmeter::cli
