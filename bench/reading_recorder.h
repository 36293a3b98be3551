#pragma once

#include <cstdint>

#include "measurement/clock.h"

namespace capmeter::bench {

// Hands the readings of another clock through and keeps the first and the
// last one, which for a measurement are its start and end readings (the
// readings in between are the poll loop's time-out checks). Kept to a branch
// and two stores so the poll period stays what the program sees.
class ReadingRecorder final : public Clock {
 public:
  explicit ReadingRecorder(Clock& inner) : inner_(inner) {}

  Duration Now() override {
    const Duration now = inner_.Now();
    if (count_++ == 0) {
      first_ = now;
    }
    last_ = now;
    return now;
  }
  void Wait(Duration span) override { inner_.Wait(span); }

  // Forgets the readings, ready for the next measurement.
  void Reset() { count_ = 0; }
  std::uint64_t Count() const { return count_; }
  Duration First() const { return first_; }
  Duration Last() const { return last_; }

 private:
  Clock& inner_;
  std::uint64_t count_ = 0;
  Duration first_{0};
  Duration last_{0};
};

}  // namespace capmeter::bench
