#pragma once

#include <cstdint>

#include "measurement/clock.h"

namespace capmeter::bench {

// Hands the readings of another clock through and keeps a measurement's start
// and end: its third reading (the first two bracket the trigger write, for the
// reading's bound) and its last (the readings in between are the poll loop's
// looks and time-out checks). Kept to a branch and two stores so the poll
// period stays what the program sees.
class ReadingRecorder final : public Clock {
 public:
  explicit ReadingRecorder(Clock& inner) : inner_(inner) {}

  Duration Now() override {
    const Duration now = inner_.Now();
    if (count_++ == kStartReading) {
      first_ = now;
    }
    last_ = now;
    return now;
  }
  void Wait(Duration span) override { inner_.Wait(span); }

  // Forgets the readings, ready for the next measurement.
  void Reset() { count_ = 0; }
  // Whether the start and an end after it were seen.
  bool HasSpan() const { return count_ > kStartReading + 1; }
  Duration First() const { return first_; }
  Duration Last() const { return last_; }

 private:
  static constexpr std::uint64_t kStartReading = 2;

  Clock& inner_;
  std::uint64_t count_ = 0;
  Duration first_{0};
  Duration last_{0};
};

}  // namespace capmeter::bench
