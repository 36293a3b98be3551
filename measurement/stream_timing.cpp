#include "measurement/stream_timing.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <span>
#include <utility>
#include <vector>

#include "device/hex_text.h"
#include "measurement/line_fit.h"
#include "measurement/pin_text.h"
#include "measurement/rate_fit.h"
#include "measurement/si_value.h"

namespace capmeter {

namespace {

constexpr std::uint8_t kD0 = 1U << 0;
constexpr std::uint8_t kD2 = 1U << 2;
// The longest sleep between two looks at an empty queue, however long the
// driver would let it run: a stop is seen within it, and a pause is judged
// no later than it after its time.
constexpr Clock::Duration kLongestSleep = std::chrono::milliseconds(5);
// Between two looks where the driver cannot be woken by arrivals: half the
// span of a transfer, long beside the stretch a wait spins at its end.
constexpr Clock::Duration kUnwokenSleep = std::chrono::milliseconds(1);
constexpr std::uint32_t kReadChunk = 64 * 1024;
// A transfer's span of samples.
constexpr double kTransferSeconds = 2e-3;
constexpr double kUsbFrameSeconds = 1e-3;
// How long a busy host may hand over a transfer late (its event thread and
// the looks wait for the scheduler; 8 ms at most measured under two busy
// loops, sim/host_delay.h): a shortfall that lasts longer is a pause. A
// late transfer's samples arrive in the end, a paused chip's never do.
constexpr Clock::Duration kLateHandOver = std::chrono::milliseconds(20);
constexpr double kModemStatusBytes = 2.0;
// A trigger that has not come back by then never will.
constexpr double kTriggerSeenWithinSeconds = 0.1;
// How many times the span a rate measurement may take to find one span
// without a stall, beyond the longest it measures for.
constexpr int kRateAttempts = 10;

std::string Called(const char* operation, const DriverLibrary& library, FT_STATUS status) {
  return std::string(operation) + ": " + StatusText(library, status);
}

// True when fewer samples came than the sample clock gives in `span` of the
// host's clock, beyond what may still be in flight: the chip stopped
// sampling while its buffers were full.
bool FellBehind(const StreamPlan& plan, double samples, double rate, Clock::Duration span) {
  const double expected = rate * ToSeconds(span);
  return samples + plan.InFlight(rate) + kSampleClockSpread * expected < expected;
}

std::string PausedText(double samples, double rate, Clock::Duration span) {
  const auto whole = [](double v) { return std::to_string(std::llround(v)); };
  return "the sample stream paused: " + whole(samples) + " samples in " +
         std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(span).count()) +
         " ms of the host's clock, where the sample clock gives " + whole(rate * ToSeconds(span)) +
         " (the host fell behind and the chip's buffers filled)";
}

// Sleeps until the driver holds samples, or for `most` at most (and for no
// more than kLongestSleep), on the driver's wake-up where it has one, else
// on the caller's clock.
void AwaitSamples(SampleStream& stream, FT_HANDLE handle, Clock& clock, Clock::Duration most) {
  most = std::clamp(most, Clock::Duration{1}, kLongestSleep);
  if (!stream.WaitForSamples(handle, most)) {
    clock.Wait(std::min(most, kUnwokenSleep));
  }
}

// Bit-bang mode, the clock, the latency timer, the transfer sizes, and both
// directions purged. Empty, or the failed call.
std::string StartStream(FT_HANDLE handle, DriverLibrary& library, SampleStream& stream,
                        const StreamPlan& plan) {
  if (!plan.problem.empty()) {
    return plan.problem;
  }
  if (const FT_STATUS s = library.FT_SetBitMode(handle, kDirectionMask, kAsyncBitBang);
      s != kStatusOk) {
    return Called("FT_SetBitMode", library, s);
  }
  if (const FT_STATUS s = stream.FT_SetBaudRate(handle, plan.baud); s != kStatusOk) {
    return Called("FT_SetBaudRate", library, s);
  }
  if (const FT_STATUS s = stream.FT_SetLatencyTimer(handle, kStreamLatencyTimerMs);
      s != kStatusOk) {
    return Called("FT_SetLatencyTimer", library, s);
  }
  const std::uint32_t transfer = plan.transferBytes;
  if (const FT_STATUS s = stream.FT_SetUSBParameters(handle, transfer, transfer); s != kStatusOk) {
    return Called("FT_SetUSBParameters", library, s);
  }
  if (const FT_STATUS s = stream.FT_Purge(handle, kPurgeReceive | kPurgeTransmit); s != kStatusOk) {
    return Called("FT_Purge", library, s);
  }
  return {};
}

// Takes what the driver holds, a buffer's worth at most.
class StreamReader {
 public:
  StreamReader(FT_HANDLE handle, DriverLibrary& library, SampleStream& stream)
      : handle_(handle), library_(library), stream_(stream), buffer_(kReadChunk) {}

  // False after a failed call, with failure() saying which. `queued` is
  // what the driver held before the read.
  bool Next(std::span<const std::uint8_t>& bytes, std::uint32_t& queued) {
    bytes = {};
    queued = 0;
    if (const FT_STATUS s = stream_.FT_GetQueueStatus(handle_, &queued); s != kStatusOk) {
      failure_ = Called("FT_GetQueueStatus", library_, s);
      return false;
    }
    if (queued == 0) {
      return true;
    }
    const std::uint32_t asked = std::min<std::uint32_t>(queued, kReadChunk);
    std::uint32_t got = 0;
    if (const FT_STATUS s = stream_.FT_Read(handle_, buffer_.data(), asked, &got); s != kStatusOk) {
      failure_ = Called("FT_Read", library_, s);
      return false;
    }
    if (got > asked) {
      failure_ =
          "FT_Read: " + std::to_string(got) + " bytes for " + std::to_string(asked) + " asked";
      return false;
    }
    bytes = {buffer_.data(), got};
    return true;
  }
  const std::string& failure() const { return failure_; }

 private:
  FT_HANDLE handle_;
  DriverLibrary& library_;
  SampleStream& stream_;
  std::vector<std::uint8_t> buffer_;
  std::string failure_;
};

// The driver's own times of the samples' arrival, where it keeps them,
// handed to a fit as (seconds since the first arrival, samples).
class ArrivalTimes {
 public:
  static constexpr std::chrono::milliseconds kSettling{10};
  ArrivalTimes(FT_HANDLE handle, SampleStream& stream) : handle_(handle), stream_(stream) {
    timed_ = stream_.TakeArrivals(handle_, arrivals_);
  }
  bool Timed() const { return timed_; }
  void AddTo(RateFit& fit) {
    if (!timed_) return;
    stream_.TakeArrivals(handle_, arrivals_);
    for (const SampleArrival& arrival : arrivals_) {
      if (!origin_) origin_ = arrival.at;
      // The first transfers after a purge come back as the driver queues
      // its transfers again, later than the stream then runs.
      if (arrival.at - *origin_ < kSettling) continue;
      fit.Add(ToSeconds(arrival.at - *origin_), static_cast<double>(arrival.total));
    }
    arrivals_.clear();
  }

 private:
  FT_HANDLE handle_;
  SampleStream& stream_;
  std::vector<SampleArrival> arrivals_;
  std::optional<std::chrono::nanoseconds> origin_;
  bool timed_ = false;
};

// The trigger pattern: the reset and the arm each held kTriggerStep, the
// trigger's low pulse kTriggerPulse and at least one sample; the last byte
// once, since the pins keep it.
std::vector<std::uint8_t> TriggerBlock(double rate) {
  const auto samples = [rate](std::chrono::nanoseconds span) {
    return static_cast<std::size_t>(std::max(1.0, std::ceil(ToSeconds(span) * rate - 1e-9)));
  };
  std::vector<std::uint8_t> block;
  for (std::size_t i = 0; i + 1 < kTriggerPattern.size(); ++i) {
    const bool pulse = i + 2 == kTriggerPattern.size();  // "4": D0 low
    block.insert(block.end(), samples(pulse ? kTriggerPulse : kTriggerStep), kTriggerPattern[i]);
  }
  block.push_back(kTriggerPattern.back());
  return block;
}

// Follows the samples from the trigger to D1's fall.
class ChargeTracker {
 public:
  enum class State { WaitingForTrigger, TriggerLow, Charging, Ended, Failed };

  // Takes samples until the charge ended or a sample is wrong.
  void Take(std::span<const std::uint8_t> samples) {
    if (state_ == State::Ended || state_ == State::Failed) {
      return;
    }
    for (const std::uint8_t sample : samples) {
      Take(sample);
      ++index_;
      if (state_ == State::Ended || state_ == State::Failed) {
        return;
      }
    }
  }
  State state() const { return state_; }
  std::uint64_t Samples() const { return index_; }
  // Samples from the trigger to D1's first low, once Ended.
  std::uint64_t ChargeSamples() const { return end_ - trigger_; }
  // D1 read low at the first sample after the trigger pulse: the charge, if
  // any, ended within it, where the timer's output follows the trigger.
  bool EndedWithinThePulse() const { return end_ == pulseEnd_; }
  std::uint64_t SinceTrigger() const {
    return state_ == State::WaitingForTrigger ? 0 : index_ - trigger_;
  }
  const std::string& failure() const { return failure_; }

 private:
  void Take(std::uint8_t sample) {
    if (state_ == State::WaitingForTrigger) {
      // Samples before it show whatever the pins held; only the trigger's
      // read-back counts: D2 high (armed) and D0 low.
      if ((sample & kD2) != 0 && (sample & kD0) == 0) {
        trigger_ = index_;
        state_ = State::TriggerLow;
      } else {
        return;
      }
    }
    const auto value = PinDigit(static_cast<char>(sample));
    if (!value) {
      failure_ = "sample byte " + HexText(sample) + " is no digit (D4 or D5 low?)";
      state_ = State::Failed;
      return;
    }
    const bool d1High = ChargeGoesOn(*value);
    d1SeenHigh_ = d1SeenHigh_ || d1High;
    if (state_ == State::TriggerLow && (sample & kD0) != 0) {
      state_ = State::Charging;
      pulseEnd_ = index_;
    }
    if (state_ == State::Charging && !d1High) {
      if (!d1SeenHigh_) {
        failure_ = "D1 never went high after the trigger (is the timer wired to D1?)";
        state_ = State::Failed;
        return;
      }
      end_ = index_;
      state_ = State::Ended;
    }
  }

  State state_ = State::WaitingForTrigger;
  std::uint64_t index_ = 0;
  std::uint64_t trigger_ = 0;
  std::uint64_t end_ = 0;
  std::uint64_t pulseEnd_ = 0;
  bool d1SeenHigh_ = false;
  std::string failure_;
};

}  // namespace

std::string_view TimingName(Timing timing) {
  switch (timing) {
    case Timing::Stream:
      return "stream";
    case Timing::Auto:
      return "auto";
    default:
      return "poll";
  }
}

std::optional<Timing> TimingFromName(std::string_view name) {
  for (const Timing timing : {Timing::Poll, Timing::Stream, Timing::Auto}) {
    if (name == TimingName(timing)) {
      return timing;
    }
  }
  return std::nullopt;
}

TimingChoice ChooseTiming(Timing asked, FT_HANDLE lngHandle, DriverLibrary& library) {
  if (asked != Timing::Auto) {
    return {asked, "timing " + std::string(TimingName(asked)) + ", as asked"};
  }
  if (library.SampleStreaming() == nullptr) {
    return {Timing::Poll,
            "timing poll: stream timing is unavailable (" + library.WhyNoSampleStream() + ")"};
  }
  const FamilyReport family = library.FamilyOf(lngHandle);
  if (!family.family->ClockTrusted()) {
    return {Timing::Poll, "timing poll: the chip is " + family.Text() +
                              ", whose bit-bang clock has a published erratum"};
  }
  return {Timing::Stream, "timing stream: the chip is " + family.Text() +
                              ", whose bit-bang clock holds its period"};
}

std::optional<double> ParseSampleRate(std::string_view text) {
  const std::optional<double> rate = ParseEngineeringValue(text, "S/s");
  if (!rate || *rate < kSlowestSampleRate || *rate > kFastestSampleRate) {
    return std::nullopt;
  }
  return rate;
}

std::string SampleRateText(double samplesPerSecond) {
  const double scale = samplesPerSecond >= 1e6 ? 1e6 : samplesPerSecond >= 1e3 ? 1e3 : 1.0;
  std::array<char, 32> text{};
  const auto written = std::to_chars(text.data(), text.data() + text.size(),
                                     samplesPerSecond / scale, std::chars_format::general, 6);
  return std::string(text.data(), written.ptr) + (scale == 1e6   ? " MS/s"
                                                  : scale == 1e3 ? " kS/s"
                                                                 : " S/s");
}

std::uint32_t InTransferSize(double samplesPerSecond, std::uint32_t packetSize) {
  constexpr double kLargest = 64.0 * 1024.0;
  const double packet = std::max<double>(packetSize, 64.0);
  const double packets =
      std::ceil(samplesPerSecond * kTransferSeconds / (packet - kModemStatusBytes));
  return static_cast<std::uint32_t>(std::clamp(packets, 1.0, kLargest / packet) * packet);
}

double StreamPlan::InFlight(double measuredRate) const {
  const ChipFamily& chip = *family.family;
  const double packetPayload = chip.packetSize - kModemStatusBytes;
  const double transferSamples =
      transferBytes / static_cast<double>(chip.packetSize) * packetPayload;
  // A packet goes once full or once the latency timer ran out.
  const double packetWait =
      std::min(kStreamLatencyTimerMs * 1e-3, packetPayload / std::max(measuredRate, 1.0));
  return transferSamples + chip.fifoToHost + measuredRate * (packetWait + kUsbFrameSeconds);
}

StreamPlan PlanStream(FT_HANDLE lngHandle, DriverLibrary& library, double requestedRate) {
  StreamPlan plan;
  plan.family = library.FamilyOf(lngHandle);
  const ChipFamily& chip = *plan.family.family;
  plan.rate = requestedRate > 0.0 ? requestedRate : chip.defaultSampleRate;
  plan.baud = BaudForSampleRate(chip, plan.rate);
  plan.transferBytes = InTransferSize(plan.rate, chip.packetSize);
  if (plan.rate > chip.highestSampleRate) {
    plan.problem = "the sample rate " + SampleRateText(plan.rate) + " is beyond the " +
                   SampleRateText(chip.highestSampleRate) + " that " + chip.Describe() +
                   " streams over its bus";
  }
  return plan;
}

RateMeasurement MeasureSampleRate(FT_HANDLE lngHandle, DriverLibrary& library, Clock& clock,
                                  double requestedRate, Clock::Duration span) {
  RateMeasurement result;
  SampleStream* stream = library.SampleStreaming();
  if (stream == nullptr) {
    result.failure = "stream timing unavailable: " + library.WhyNoSampleStream();
    return result;
  }
  result.plan = PlanStream(lngHandle, library, requestedRate);
  const StreamPlan& plan = result.plan;
  if (std::string failure = StartStream(lngHandle, library, *stream, plan); !failure.empty()) {
    result.failure = std::move(failure);
    return result;
  }
  StreamReader reader(lngHandle, library, *stream);
  ArrivalTimes arrivals(lngHandle, *stream);
  RateFit& fit = result.fit;
  fit.BeginSegment();
  const Clock::Duration begun = clock.Now();
  // Without the driver's own times, each look that found samples is a
  // point: what had arrived by then, timed just before the look, so the
  // time it takes to read and count them does not lean on the line. A look
  // that comes late may have let the buffers fill and the chip stop
  // sampling, so the fit starts again after it: later than half of the
  // smallest driver buffer (64 KiB) holds at the rate the samples show so
  // far, or the rate asked while that is higher.
  const auto longestGap = [&plan](double seenRate) {
    return std::min<Clock::Duration>(
        std::chrono::milliseconds(20),
        std::chrono::duration_cast<Clock::Duration>(
            std::chrono::duration<double>(32768.0 / std::max(plan.rate, seenRate))));
  };
  double count = 0;
  bool started = false;  // a look found samples since the last restart
  Clock::Duration first{0};
  std::optional<Clock::Duration> previous;
  const Clock::Duration giveUp = kRateAttempts * span + kLongestRateSpan;
  while (clock.Now() - begun < giveUp) {
    std::span<const std::uint8_t> bytes;
    std::uint32_t queued = 0;
    const Clock::Duration looked = clock.Now();
    if (!reader.Next(bytes, queued)) {
      result.failure = reader.failure();
      return result;
    }
    if (arrivals.Timed()) {
      arrivals.AddTo(fit);
    } else {
      const double seenRate = started && looked > first ? count / ToSeconds(looked - first) : 0.0;
      if (previous && looked - *previous > longestGap(seenRate)) {
        started = false;
        fit.DropSegment();
      }
      previous = looked;
      if (queued > 0) {
        if (!started) {
          started = true;
          first = looked;
        } else {
          fit.Add(ToSeconds(looked - first), count + queued);
        }
      }
    }
    count += static_cast<double>(bytes.size());
    const RateFit::Estimate estimate = fit.Result();
    if (estimate.seconds >= ToSeconds(span) &&
        (estimate.relativeError <= kRateTargetError || clock.Now() - begun >= kLongestRateSpan)) {
      break;
    }
    AwaitSamples(*stream, lngHandle, clock, kLongestSleep);
  }
  const RateFit::Estimate estimate = fit.Result();
  const auto spanText = [&span] {
    return std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(span).count());
  };
  if (estimate.points < 3 || !(estimate.rate > 0.0)) {
    result.failure = "no samples came in " + spanText() +
                     " ms of streaming (does the chip stream in bit-bang mode?)";
    return result;
  }
  if (estimate.seconds < ToSeconds(span)) {
    result.failure = "the host fell behind too often to measure the sample rate: no " + spanText() +
                     " ms of streaming without a stall";
    return result;
  }
  if (estimate.relativeError > kRateWorstError) {
    result.failure = "the sample stream was not steady enough to measure its rate: ± " +
                     std::to_string(std::lround(estimate.relativeError * 1e6)) + " ppm after " +
                     std::to_string(std::lround(ToSeconds(clock.Now() - begun) * 1e3)) +
                     " ms (samples were lost: the host fell behind)";
    return result;
  }
  result.rate = estimate.rate;
  result.relativeError = estimate.relativeError;
  result.samples = static_cast<std::uint64_t>(count);
  result.span =
      std::chrono::duration_cast<Clock::Duration>(std::chrono::duration<double>(estimate.seconds));
  // A pause shows as a step away from the line.
  if (fit.SegmentResidualRange() > 2.0 * plan.InFlight(std::max(plan.rate, result.rate))) {
    result.failure = "the sample stream paused while its rate was measured (the host fell behind)";
    return result;
  }
  if (const FT_STATUS s = stream->FT_Purge(lngHandle, kPurgeReceive | kPurgeTransmit);
      s != kStatusOk) {
    result.failure = Called("FT_Purge", library, s);
  }
  return result;
}

MeasureResult MeasureByStream(FT_HANDLE lngHandle, DriverLibrary& library, Display& display,
                              Clock& clock, const SampleClock& sampleClock, MeasurePolicy* policy,
                              RateFit* refine) {
  BeginMeasurement(display);
  MeasureResult result;
  SampleStream* stream = library.SampleStreaming();
  if (stream == nullptr) {
    return FailMeasurement(result, MeasureOutcome::ReadError, display,
                           "stream timing unavailable: " + library.WhyNoSampleStream());
  }
  const double rate = sampleClock.rate;
  if (!(rate > 0.0) || !std::isfinite(rate)) {
    return FailMeasurement(result, MeasureOutcome::ReadError, display,
                           "stream timing: the sample rate was not measured");
  }
  const StreamPlan plan = PlanStream(lngHandle, library, sampleClock.requestedRate);
  if (std::string failure = StartStream(lngHandle, library, *stream, plan); !failure.empty()) {
    return FailMeasurement(result, MeasureOutcome::ReadError, display, std::move(failure));
  }
  const Clock::Duration purged = clock.Now();
  // The reading's arrivals refine the rate only if the reading holds.
  struct Refinement {
    RateFit* fit;
    bool keep = false;
    ~Refinement() {
      if (fit != nullptr && !keep) fit->DropSegment();
    }
  } refinement{refine};
  if (refine != nullptr) refine->BeginSegment();
  ArrivalTimes arrivals(lngHandle, *stream);

  // Every span below is sized from the rate measured, not the one asked.
  const std::vector<std::uint8_t> block = TriggerBlock(rate);
  std::uint32_t written = 0;
  if (const FT_STATUS s = library.FT_Write(lngHandle, block.data(),
                                           static_cast<std::uint32_t>(block.size()), &written);
      s != kStatusOk) {
    return FailMeasurement(result, MeasureOutcome::ReadError, display,
                           Called("FT_Write", library, s));
  }
  if (written != block.size()) {
    return FailMeasurement(result, MeasureOutcome::ReadError, display,
                           "FT_Write: " + std::to_string(written) + " of " +
                               std::to_string(block.size()) + " bytes written");
  }

  const Clock::Duration start = clock.Now();
  const double limitSamples = rate * ToSeconds(kPollTimeLimit);
  const double triggerDue = plan.InFlight(rate) + rate * kTriggerSeenWithinSeconds + block.size();
  StreamReader reader(lngHandle, library, *stream);
  ChargeTracker charge;
  double taken = 0;     // every sample read, after the end too
  bool behind = false;  // short of samples, since behindSince
  Clock::Duration behindSince{0};
  const auto purge = [&]() -> std::string {
    const FT_STATUS s = stream->FT_Purge(lngHandle, kPurgeReceive | kPurgeTransmit);
    return s == kStatusOk ? std::string() : Called("FT_Purge", library, s);
  };
  for (;;) {
    std::span<const std::uint8_t> bytes;
    std::uint32_t queued = 0;
    const bool read = reader.Next(bytes, queued);
    const Clock::Duration now = clock.Now();
    ++result.polls;
    if (policy != nullptr && policy->Abandon()) {
      result.outcome = MeasureOutcome::Abandoned;
      return result;
    }
    if (!read) {
      return FailMeasurement(result, MeasureOutcome::ReadError, display, reader.failure());
    }
    if (refine != nullptr) arrivals.AddTo(*refine);
    // Judged on all the driver holds, before any of it counts: short for
    // longer than a late hand-over lasts, the chip stopped sampling.
    const double inHand = taken + queued;
    if (!FellBehind(plan, inHand, rate, now - purged)) {
      behind = false;
    } else if (!behind) {
      behind = true;
      behindSince = now;
    } else if (now - behindSince > kLateHandOver) {
      return FailMeasurement(result, MeasureOutcome::ReadError, display,
                             PausedText(inHand, rate, now - purged));
    }
    taken += static_cast<double>(bytes.size());
    charge.Take(bytes);
    switch (charge.state()) {
      case ChargeTracker::State::Failed:
        return FailMeasurement(result, MeasureOutcome::ReadError, display, charge.failure());
      case ChargeTracker::State::Ended:
        if (behind) {
          break;  // the count holds only once the samples before the end are all in
        }
        if (std::string failure = purge(); !failure.empty()) {
          return FailMeasurement(result, MeasureOutcome::ReadError, display, std::move(failure));
        }
        refinement.keep = true;
        if (charge.EndedWithinThePulse()) {
          return FailMeasurement(result, MeasureOutcome::BelowRange, display,
                                 "the charge ended within the trigger pulse, below what "
                                 "the stream can time");
        }
        result.outcome = MeasureOutcome::ChargeTime;
        result.seconds = static_cast<float>(static_cast<double>(charge.ChargeSamples()) / rate);
        // D1 fell within a sample period, and so did D0 before it; the
        // rate itself is good to four of its standard errors.
        result.boundSeconds = 1.0 / rate + 4.0 * sampleClock.relativeError * result.seconds;
        return result;
      case ChargeTracker::State::WaitingForTrigger:
        if (static_cast<double>(charge.Samples()) > triggerDue) {
          return FailMeasurement(result, MeasureOutcome::ReadError, display,
                                 "the trigger never came back in the samples (is D0 or D2 held?)");
        }
        break;
      default:
        break;
    }
    if (now - start >= kPollTimeLimit ||
        static_cast<double>(charge.SinceTrigger()) >= limitSamples) {
      if (std::string failure = purge(); !failure.empty()) {
        return FailMeasurement(result, MeasureOutcome::ReadError, display, std::move(failure));
      }
      refinement.keep = true;
      return FailMeasurement(result, MeasureOutcome::TimedOut, display);
    }
    if (bytes.empty()) {
      // Until samples come, but no later than the 10 s bound or the end of
      // a shortfall's grace.
      Clock::Duration most = start + kPollTimeLimit - now;
      if (behind) most = std::min(most, behindSince + kLateHandOver - now + Clock::Duration{1});
      AwaitSamples(*stream, lngHandle, clock, most);
    }
  }
}

}  // namespace capmeter
