#include "cli/instrument_thread.h"

#include <asio/post.hpp>

namespace capmeter::cli {

namespace {

// What a reading's stop signal says when the client that asked went away.
constexpr int kClientGone = -1;

}  // namespace

void InstrumentThread::Submit(Job job) {
  {
    const std::lock_guard lock(mutex_);
    jobs_.push_back(std::move(job));
  }
  wake_.notify_one();
}

void InstrumentThread::Stop() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
}

void InstrumentThread::Run(const std::function<int()>& stopSignal) {
  for (;;) {
    Job job;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
      if (stopping_) return;
      job = std::move(jobs_.front());
      jobs_.pop_front();
    }
    std::string answer;
    if (job.inputError != 0) {
      instrument_.ReportInputError(job.inputError);
    } else {
      SeriesControl control;
      control.stopSignal = [&stopSignal, &job] {
        const int signal = stopSignal();
        return signal != 0 ? signal : job.abandoned && job.abandoned() ? kClientGone : 0;
      };
      answer = instrument_.Execute(job.line, control);
    }
    if (job.answered) {
      asio::post(io_, [answered = std::move(job.answered), answer = std::move(answer)]() mutable {
        answered(std::move(answer));
      });
    }
  }
}

}  // namespace capmeter::cli
