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
#include "measurement/si_value.h"

namespace capmeter {

namespace {

constexpr std::uint8_t kD0 = 1U << 0;
constexpr std::uint8_t kD2 = 1U << 2;
// Between two looks at an empty queue: the driver reads ahead meanwhile.
constexpr Clock::Duration kIdleWait = std::chrono::microseconds(200);
constexpr std::uint32_t kReadChunk = 64 * 1024;
// A transfer's span of samples.
constexpr double kTransferSeconds = 2e-3;
constexpr double kUsbFrameSeconds = 1e-3;
// How late the host may hand over a transfer that came back: its event
// thread, and the looks themselves, wait for the scheduler.
constexpr double kHostLateSeconds = 3e-3;
constexpr double kModemStatusBytes = 2.0;
// A trigger that has not come back by then never will.
constexpr double kTriggerSeenWithinSeconds = 0.1;
// How many times the span a rate measurement may take to find one span
// without a stall.
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

// The trigger pattern, each step held kTriggerStep; the last byte once,
// since the pins keep it.
std::vector<std::uint8_t> TriggerBlock(double rate) {
  const auto step = static_cast<std::size_t>(
      std::max(1.0, std::round(std::chrono::duration<double>(kTriggerStep).count() * rate)));
  std::vector<std::uint8_t> block;
  for (std::size_t i = 0; i + 1 < kTriggerPattern.size(); ++i) {
    block.insert(block.end(), step, kTriggerPattern[i]);
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
  return transferSamples + chip.fifoToHost +
         measuredRate * (packetWait + kUsbFrameSeconds + kHostLateSeconds);
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
  // The count against the host's clock at each look that found samples:
  // what had arrived by then, timed just before the look, so the time it
  // takes to read and count them does not lean on the line.
  StreamReader reader(lngHandle, library, *stream);
  const Clock::Duration begun = clock.Now();
  // A look that comes late may have let the buffers fill and the chip stop
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
  Clock::Duration last{0};
  std::vector<FitPoint> points;
  while ((!started || last - first < span) && clock.Now() - begun < kRateAttempts * span) {
    std::span<const std::uint8_t> bytes;
    std::uint32_t queued = 0;
    const Clock::Duration looked = clock.Now();
    if (!reader.Next(bytes, queued)) {
      result.failure = reader.failure();
      return result;
    }
    const double seenRate = started && looked > first ? count / ToSeconds(looked - first) : 0.0;
    if (previous && looked - *previous > longestGap(seenRate)) {
      started = false;
      points.clear();
    }
    previous = looked;
    if (queued > 0) {
      if (!started) {
        started = true;
        first = looked;
      } else {
        points.push_back({ToSeconds(looked - first), count + queued});
        last = looked;
      }
      count += static_cast<double>(bytes.size());
    }
    clock.Wait(kIdleWait);
  }
  const LineFit fit = FitLine(points);
  if (points.size() < 2 || fit.problem != FitProblem::None) {
    result.failure =
        "no samples came in " +
        std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(span).count()) +
        " ms of streaming (does the chip stream in bit-bang mode?)";
    return result;
  }
  if (last - first < span) {
    result.failure =
        "the host fell behind too often to measure the sample rate: no " +
        std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(span).count()) +
        " ms of streaming without a stall";
    return result;
  }
  result.rate = fit.line.slope;
  result.samples = static_cast<std::uint64_t>(count);
  result.span = last - first;
  // A pause shows as a step away from the line.
  double lowest = 0, highest = 0;
  for (const FitPoint& point : points) {
    lowest = std::min(lowest, fit.line.Residual(point));
    highest = std::max(highest, fit.line.Residual(point));
  }
  if (!(result.rate > 0.0) ||
      highest - lowest > 2.0 * plan.InFlight(std::max(plan.rate, result.rate))) {
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
                              Clock& clock, const SampleClock& sampleClock, MeasurePolicy* policy) {
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
    // Judged on all the driver holds, before any of it counts.
    const double inHand = static_cast<double>(charge.Samples()) + queued;
    if (FellBehind(plan, inHand, rate, now - purged)) {
      return FailMeasurement(result, MeasureOutcome::ReadError, display,
                             PausedText(inHand, rate, now - purged));
    }
    charge.Take(bytes);
    switch (charge.state()) {
      case ChargeTracker::State::Failed:
        return FailMeasurement(result, MeasureOutcome::ReadError, display, charge.failure());
      case ChargeTracker::State::Ended:
        if (std::string failure = purge(); !failure.empty()) {
          return FailMeasurement(result, MeasureOutcome::ReadError, display, std::move(failure));
        }
        result.outcome = MeasureOutcome::ChargeTime;
        result.seconds = static_cast<float>(static_cast<double>(charge.ChargeSamples()) / rate);
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
      return FailMeasurement(result, MeasureOutcome::TimedOut, display);
    }
    if (bytes.empty()) {
      clock.Wait(kIdleWait);
    }
  }
}

}  // namespace capmeter
