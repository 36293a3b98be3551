#include "monitor/series_worker.h"

#include <iostream>
#include <utility>

namespace capmeter {

SeriesWorker::SeriesWorker(DriverLibrary& library, Clock& clock)
    : library_(library), clock_(clock) {}

SeriesWorker::~SeriesWorker() {
  RequestStop();
  Join();
}

void SeriesWorker::Start(FT_HANDLE handle, const SeriesSetup& setup, int firstIndex,
                         ReadingLog* log) {
  Join();
  stop_.Reset();
  {
    const std::lock_guard lock(mailMutex_);
    mail_ = {};
  }
  thread_ =
      std::thread([this, handle, setup, firstIndex, log] { Run(handle, setup, firstIndex, log); });
}

void SeriesWorker::Join() {
  if (thread_.joinable()) {
    thread_.join();
  }
}

SeriesWorker::Mail SeriesWorker::Collect() {
  const std::lock_guard lock(mailMutex_);
  Mail mail = std::move(mail_);
  mail_ = {};
  return mail;
}

void SeriesWorker::Run(FT_HANDLE handle, SeriesSetup setup, int firstIndex, ReadingLog* log) {
  if (setup.timing == Timing::Auto) {
    const TimingChoice choice = ChooseTiming(setup.timing, handle, library_);
    setup.timing = choice.timing;
    const std::lock_guard lock(mailMutex_);
    mail_.timingChosen = choice.why;
  }
  bool logging = log != nullptr && log->IsOpen();
  int failuresInARow = 0;
  RunSeries(library_, clock_, handle, setup, stop_.Control(), [&](const Reading& measured) {
    failuresInARow = measured.outcome == MeasureOutcome::ReadError ? failuresInARow + 1 : 0;
    const bool giveUp = failuresInARow == kFailuresToGiveUp;
    if (giveUp) {
      stop_.Press();
    }
    Reading reading = measured;
    reading.index = firstIndex + measured.index - 1;
    if (measured.index == 1 && measured.sampleClock.rate > 0.0) {
      // The rate the series counts with from its first reading on.
      const std::lock_guard lock(mailMutex_);
      mail_.sampleRate = measured.sampleClock.rate;
    }
    std::string problem;
    if (logging && !log->Write(reading)) {
      logging = false;
      problem = log->Problem();
      std::cerr << "capmeter-monitor: " << problem
                << "; logging stopped, the readings stay in memory to save elsewhere.\n";
    }
    const Clock::Duration at = clock_.Now();
    const std::lock_guard lock(mailMutex_);
    mail_.arrivals.push_back({reading, at});
    if (!problem.empty()) {
      mail_.logProblem = problem;
    }
    mail_.gaveUp = mail_.gaveUp || giveUp;
    if (giveUp) {
      mail_.lastFailure = measured.failure;
    }
    return true;  // a failed log write stops the log, not the series
  });
  const std::lock_guard lock(mailMutex_);
  mail_.finished = true;
}

}  // namespace capmeter
