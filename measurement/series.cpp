#include "measurement/series.h"

#include <cmath>
#include <random>

#include "measurement/dither.h"
#include "ui/display.h"

namespace capmeter {

namespace {

// Dithers the first poll when asked and gives up the reading once a stop
// signal came.
class SeriesPolicy final : public MeasurePolicy {
 public:
  SeriesPolicy(const SeriesControl& control, std::optional<DitherSequence> dither)
      : control_(control), dither_(dither) {}

  Clock::Duration FirstPollDelay() override {
    return dither_ ? dither_->Next() : Clock::Duration::zero();
  }
  bool Abandon() override { return control_.stopSignal() != 0; }

 private:
  const SeriesControl& control_;
  std::optional<DitherSequence> dither_;
};

}  // namespace

Line Calibration(double slope, double intercept) {
  return {slope, slope != 0.0 ? intercept : 0.0};
}

std::uint64_t NewSeed() {
  std::random_device entropy;
  return (static_cast<std::uint64_t>(entropy()) << 32) ^ static_cast<std::uint64_t>(entropy());
}

SeriesEnd RunSeries(DriverLibrary& library, Clock& clock, FT_HANDLE handle,
                    const SeriesSetup& setup, const SeriesControl& control,
                    const std::function<bool(const Reading&)>& onReading) {
  const auto stopped = [&control] { return control.stopSignal() != 0; };
  SeriesEnd end;
  // Resolved here too, for a caller that did not ask ChooseTiming first.
  const Timing timing = ChooseTiming(setup.timing, handle, library).timing;
  end.timing = timing;
  std::optional<DitherSequence> dither;
  if (setup.dither && timing == Timing::Poll) {
    end.pollPeriod = MeasurePollPeriod(handle, library, clock);
    dither.emplace(end.pollPeriod, setup.seed);
  }
  SeriesPolicy policy(control, dither);
  NullDisplay display;
  SampleClock sampleClock = setup.sampleClock;
  std::string rateFailure;
  // Every streamed reading's arrivals refine the rate the series counts
  // with, once the fit over them is better than the rate it was handed.
  RateFit rateFit;
  if (timing == Timing::Stream && !(sampleClock.rate > 0.0)) {
    RateMeasurement measured = MeasureSampleRate(handle, library, clock, sampleClock.requestedRate);
    sampleClock = {measured.plan.rate, measured.rate, measured.relativeError};
    rateFailure = measured.failure;
    rateFit = std::move(measured.fit);
  }
  const auto refine = [&] {
    const RateFit::Estimate estimate = rateFit.Result();
    if (estimate.rate > 0.0 && estimate.relativeError < sampleClock.relativeError) {
      sampleClock.rate = estimate.rate;
      sampleClock.relativeError = estimate.relativeError;
    }
  };
  const auto ending = [&] {
    end.sampleRate = timing == Timing::Stream ? sampleClock.rate : 0.0;
    end.rateError = timing == Timing::Stream ? sampleClock.relativeError : 1.0;
    end.askedRate = timing == Timing::Stream ? sampleClock.requestedRate : 0.0;
  };
  ending();

  const Clock::Duration began = clock.Now();
  for (int i = 0; i < setup.count && !stopped(); ++i) {
    if (i > 0 && setup.interval > Clock::Duration::zero()) {
      const Clock::Duration due = began + i * setup.interval;
      const Clock::Duration now = clock.Now();
      if (due > now) {
        if (control.rest) {
          control.rest(due - now);
        } else {
          clock.Wait(due - now);
        }
      }
      if (stopped()) {
        break;
      }
    }
    MeasureResult result;
    if (!rateFailure.empty()) {
      result.failure = rateFailure;  // no call after the failed one
    } else if (timing == Timing::Stream) {
      result = MeasureByStream(handle, library, display, clock, sampleClock, &policy, &rateFit);
    } else {
      result = Measure(handle, library, display, clock, &policy);
    }
    if (result.outcome == MeasureOutcome::Abandoned) {
      break;
    }
    if (timing == Timing::Poll && result.HasTime() && result.polls == 1) {
      result.outcome = MeasureOutcome::BelowRange;
      result.failure = "the charge had ended by the first look, below what polls can time";
    }
    Reading reading;
    reading.index = i + 1;
    reading.outcome = result.outcome;
    reading.endedAt = control.wallClock();
    reading.failure = result.failure;
    if (timing == Timing::Stream) reading.sampleClock = sampleClock;
    if (result.HasTime()) {
      reading.seconds = result.seconds;
      reading.boundSeconds = static_cast<float>(result.boundSeconds);
      if (setup.calibration.slope != 0.0) {
        reading.microfarads = setup.calibration.At(static_cast<double>(result.seconds));
      }
    }
    if (timing == Timing::Stream) {
      refine();  // for the next reading; this one counted with the rate before
      ending();
    }
    if (!onReading(reading) || !rateFailure.empty()) {
      break;
    }
  }
  end.stopSignal = control.stopSignal();
  return end;
}

Summary Summarize(const std::vector<Reading>& readings, bool withCapacitance) {
  Summary summary;
  std::vector<double> seconds;
  std::vector<double> microfarads;
  for (const Reading& r : readings) {
    switch (r.outcome) {
      case MeasureOutcome::ChargeTime:
        ++summary.ok;
        seconds.push_back(r.seconds);
        if (r.microfarads && std::isfinite(*r.microfarads)) {
          microfarads.push_back(*r.microfarads);
        }
        break;
      case MeasureOutcome::ReadError:
        ++summary.readErrors;
        summary.lastFailure = r.failure;
        break;
      case MeasureOutcome::TimedOut:
        ++summary.timedOut;
        break;
      case MeasureOutcome::BelowRange:
        ++summary.belowRange;
        break;
      case MeasureOutcome::Abandoned:
        break;
    }
  }
  summary.seconds = Describe(seconds);
  if (withCapacitance) {
    summary.microfarads = Describe(microfarads);
  }
  return summary;
}

}  // namespace capmeter
