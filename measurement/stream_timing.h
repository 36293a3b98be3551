#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "device/driver_library.h"
#include "measurement/clock.h"
#include "measurement/measure.h"
#include "measurement/rate_fit.h"
#include "ui/display.h"

namespace capmeter {

// How a charge is timed: by host polls of the pins (Measure, the window's
// way), by counting the chip's own samples of them (MeasureByStream), or
// whichever of the two suits the open chip (ChooseTiming).
enum class Timing { Poll, Stream, Auto };

// "poll", "stream" and "auto", for command lines, logs and SCPI.
std::string_view TimingName(Timing timing);
std::optional<Timing> TimingFromName(std::string_view name);

// The timing a series uses, and why, in one sentence.
struct TimingChoice {
  Timing timing = Timing::Poll;
  std::string why;
};
// The timing for the chip open on `lngHandle`: `asked` itself unless it is
// Auto, which streams where the driver can stream and the chip family's
// bit-bang clock can be trusted, and polls otherwise. Every program that
// takes --timing asks here.
TimingChoice ChooseTiming(Timing asked, FT_HANDLE lngHandle, DriverLibrary& library);

// The rate asked for when none is given: the chip family's default
// (ChipFamily::defaultSampleRate), known once the chip is open.
inline constexpr double kFamilyDefaultRate = 0.0;
// What the family default is where no chip says otherwise: the simulated
// chip's family and a high-speed chip's, 1 µs a sample, 10 nF at 100 kΩ to
// 0.1 % in one reading (see docs/performance.md).
inline constexpr double kDefaultSampleRate = 1e6;
// The slowest clock the baud divisor gives, and a ceiling well above what
// a stream holds.
inline constexpr double kSlowestSampleRate = 3.6e3;
inline constexpr double kFastestSampleRate = 12e6;
// The reset and arm steps before the trigger: long enough for any 555-type
// timer to take, far shorter than the shortest charge timed to 1 % (200
// samples).
inline constexpr std::chrono::microseconds kTriggerStep{5};
// The trigger's low pulse itself: the longest that any 555-type timer's data
// sheet asks for, as a timer's output stays high while its trigger is low,
// so a charge shorter than it cannot be told from it (at least one sample).
inline constexpr std::chrono::nanoseconds kTriggerPulse{2000};
// A short latency timer, so part-filled packets reach the host soon.
inline constexpr std::uint8_t kStreamLatencyTimerMs = 2;
// How far the sample clock may run from the host's, in parts: crystal
// tolerances and the error of the measured rate, with margin.
inline constexpr double kSampleClockSpread = 0.005;
// How long a series streams at least to measure the sample rate before its
// first reading (the check streams a second), and at most while the rate's
// standard error is above kRateTargetError: a quarter of 100 ppm, so the
// rate holds to 100 ppm at four standard errors.
inline constexpr std::chrono::milliseconds kRateMeasureSpan{250};
inline constexpr std::chrono::milliseconds kLongestRateSpan{4000};
inline constexpr double kRateTargetError = 25e-6;
// A rate no better than this after the longest span is no rate: a steady
// clock gets far closer, so samples were lost on the way (the chip's FIFO
// overflowed while the host, or an emulated chip's thread, fell behind).
inline constexpr double kRateWorstError = 1e-3;

// Samples a second as people write them ("1M", "500k", "2.4 MS/s"), from
// kSlowestSampleRate to kFastestSampleRate; empty otherwise.
std::optional<double> ParseSampleRate(std::string_view text);
// "500 kS/s", "1.2 MS/s": a rate as people read it.
std::string SampleRateText(double samplesPerSecond);

// The USB IN transfer size for a sample rate: about 2 ms of samples, in
// whole packets of `packetSize`. A transfer reaches the host only once it
// is full, so this is what a stall may hide behind.
std::uint32_t InTransferSize(double samplesPerSecond, std::uint32_t packetSize);

// How a stream is set up on the open chip: its family, the rate asked (the
// family's default for kFamilyDefaultRate), the baud that gives that rate
// on the family and the IN transfer size; `problem` says why the family
// cannot stream at that rate, empty when it can.
struct StreamPlan {
  FamilyReport family;
  double rate = 0.0;
  std::uint32_t baud = 0;
  std::uint32_t transferBytes = 0;
  std::string problem;

  // The samples a healthy stream at `measuredRate` may not have handed over
  // yet: a transfer's worth, the chip's FIFO and a packet's wait, and a USB
  // frame. A stall shorter than this shortens a reading unseen.
  double InFlight(double measuredRate) const;
};
StreamPlan PlanStream(FT_HANDLE lngHandle, DriverLibrary& library, double requestedRate);

// The sample clock a stream measurement counts with.
struct SampleClock {
  double requestedRate = kFamilyDefaultRate;  // what the baud rate was set for
  double rate = 0.0;                          // as measured against the host's clock
  double relativeError = 1.0;                 // the rate's standard error over the rate
};

struct RateMeasurement {
  std::string failure;         // empty when the rate was measured
  StreamPlan plan;             // as the stream was set up; its rate is the one asked
  double rate = 0.0;           // samples a second
  double relativeError = 1.0;  // its standard error over it
  RateFit fit;                 // the points it was fitted over, for a series to refine
  std::uint64_t samples = 0;
  Clock::Duration span{0};  // of the host's clock, from the first samples to the last

  bool Measured() const { return failure.empty(); }
};

// Streams the pins at `requestedRate` (the family's default for
// kFamilyDefaultRate) for at least `span` and at most kLongestRateSpan, until
// the rate's standard error is within kRateTargetError, and fits the samples
// against the host's clock: at the times the driver saw them land where it
// keeps them (SampleStream::TakeArrivals), else at the looks that found
// them. Everything sized from a rate is sized from what the samples show,
// so a chip several times faster or slower than asked is still measured. No
// further call after a failed one.
RateMeasurement MeasureSampleRate(FT_HANDLE lngHandle, DriverLibrary& library, Clock& clock,
                                  double requestedRate, Clock::Duration span = kRateMeasureSpan);

// One measurement timed by the chip's sample clock: the trigger pattern is
// written as one block, each step kTriggerStep long, and the charge time is
// the number of samples from the trigger's first low on D0 to D1's first low
// after it, over `sampleClock.rate`. Samples are judged as they arrive, so
// memory stays bounded however long the charge. The outcomes and their
// display texts are Measure's; a stream that fell behind the host's clock
// (it paused while its buffers were full) is a read error, as is a driver
// that cannot stream. No further call after a failed one; otherwise both
// directions are purged at the end, leaving bit-bang mode on as polling
// expects. The policy's first-poll delay does not apply.
// With `refine`, the arrivals of a reading that gave a time or timed out
// are a new segment of that fit.
MeasureResult MeasureByStream(FT_HANDLE lngHandle, DriverLibrary& library, Display& display,
                              Clock& clock, const SampleClock& sampleClock,
                              MeasurePolicy* policy = nullptr, RateFit* refine = nullptr);

}  // namespace capmeter
