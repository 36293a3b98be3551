#include <gtest/gtest.h>

#include <chrono>

#include "device/device_link.h"
#include "measurement/measure.h"
#include "sim/simulated_chip.h"
#include "sim/virtual_clock.h"
#include "tests/support/event_log.h"
#include "tests/support/recording_display.h"

namespace capmeter {
namespace {

using std::chrono::microseconds;
using testing::EventLog;
using testing::RecordingDisplay;

// Waits a set time before the first poll and gives up after a set number of
// polls, counting how often it was asked.
class ScriptedPolicy final : public MeasurePolicy {
 public:
  ScriptedPolicy(Clock::Duration delay, int abandonAfter)
      : delay_(delay), abandonAfter_(abandonAfter) {}
  Clock::Duration FirstPollDelay() override {
    ++delaysAsked;
    return delay_;
  }
  bool Abandon() override { return ++abandonsAsked >= abandonAfter_; }

  int delaysAsked = 0;
  int abandonsAsked = 0;

 private:
  Clock::Duration delay_;
  int abandonAfter_;
};

struct Bench {
  explicit Bench(CircuitParts parts, Clock::Duration latency) : chip(clock, parts) {
    chip.SetCallLatency(latency);
    OpenLink(link, chip, display);
  }
  VirtualClock clock;
  SimulatedChip chip;
  EventLog log;
  RecordingDisplay display{log};
  DeviceLink link;
};

TEST(MeasurePolicy, TheDelayComesOnceBetweenTheStartReadingAndTheFirstPoll) {
  // No capacitor: D1 is low at the first poll, so with no latency the time is
  // the delay alone.
  Bench bench({100e3, 0.0}, microseconds(0));
  ScriptedPolicy policy(microseconds(250), 1'000'000);
  const MeasureResult result =
      Measure(bench.link.lngHandle, bench.chip, bench.display, bench.clock, &policy);
  EXPECT_EQ(result.outcome, MeasureOutcome::ChargeTime);
  EXPECT_EQ(result.polls, 1U);
  EXPECT_EQ(result.seconds, 250e-6F);
  EXPECT_EQ(policy.delaysAsked, 1);
  EXPECT_EQ(policy.abandonsAsked, 1);
}

TEST(MeasurePolicy, AbandonEndsTheMeasurementAfterThatPoll) {
  Bench bench({}, microseconds(100));  // a 0.517 s charge
  ScriptedPolicy policy(Clock::Duration::zero(), 7);
  const auto before = bench.clock.Now();
  const MeasureResult result =
      Measure(bench.link.lngHandle, bench.chip, bench.display, bench.clock, &policy);
  EXPECT_EQ(result.outcome, MeasureOutcome::Abandoned);
  EXPECT_FALSE(result.HasTime());
  EXPECT_EQ(result.polls, 7U);
  EXPECT_LT(bench.clock.Now() - before, std::chrono::milliseconds(2));
  EXPECT_EQ(bench.display.captions[LabelSlot::lblTime], "Processing!");
}

TEST(MeasurePolicy, TheDefaultPolicyChangesNothing) {
  Bench plain({}, microseconds(100));
  Bench withPolicy({}, microseconds(100));
  MeasurePolicy nothing;
  const MeasureResult a = Measure(plain.link.lngHandle, plain.chip, plain.display, plain.clock);
  const MeasureResult b = Measure(withPolicy.link.lngHandle, withPolicy.chip, withPolicy.display,
                                  withPolicy.clock, &nothing);
  EXPECT_EQ(a.outcome, b.outcome);
  EXPECT_EQ(a.seconds, b.seconds);
  EXPECT_EQ(a.polls, b.polls);
  EXPECT_EQ(plain.clock.Now(), withPolicy.clock.Now());
}

}  // namespace
}  // namespace capmeter
