#include "cli/series.h"

#include <cmath>

#include "measurement/dither.h"
#include "ui/display.h"

namespace capmeter::cli {

namespace {

// The command line has no window: the measurement's display texts go nowhere.
class NoDisplay final : public Display {
 public:
  void SetCaption(LabelSlot, std::string_view) override {}
  void RepaintNow(LabelSlot) override {}
  std::string ReadText(TextSlot) override { return {}; }
  void ShowMessage(std::string_view) override {}
};

// Dithers the first poll when asked and gives up the reading once a stop
// signal came.
class SeriesPolicy final : public MeasurePolicy {
 public:
  SeriesPolicy(const Meter& meter, std::optional<DitherSequence> dither)
      : meter_(meter), dither_(dither) {}

  Clock::Duration FirstPollDelay() override {
    return dither_ ? dither_->Next() : Clock::Duration::zero();
  }
  bool Abandon() override { return meter_.Stopped(); }

 private:
  const Meter& meter_;
  std::optional<DitherSequence> dither_;
};

}  // namespace

SeriesEnd RunSeries(Meter& meter, FT_HANDLE handle, const SeriesSetup& setup,
                    const std::function<void(const Reading&)>& onReading) {
  SeriesEnd end;
  std::optional<DitherSequence> dither;
  if (setup.dither) {
    end.pollPeriod = MeasurePollPeriod(handle, meter.library, meter.clock);
    dither.emplace(end.pollPeriod, setup.seed);
  }
  SeriesPolicy policy(meter, dither);
  NoDisplay display;

  const Clock::Duration began = meter.clock.Now();
  for (int i = 0; i < setup.count && !meter.Stopped(); ++i) {
    if (i > 0 && setup.interval > Clock::Duration::zero()) {
      const Clock::Duration due = began + i * setup.interval;
      const Clock::Duration now = meter.clock.Now();
      if (due > now) {
        meter.Rest(due - now);
      }
      if (meter.Stopped()) {
        break;
      }
    }
    const MeasureResult result = Measure(handle, meter.library, display, meter.clock, &policy);
    if (result.outcome == MeasureOutcome::Abandoned) {
      break;
    }
    Reading reading;
    reading.index = i + 1;
    reading.outcome = result.outcome;
    if (result.HasTime()) {
      reading.seconds = result.seconds;
      if (setup.calibration.m != 0.0) {
        reading.microfarads =
            setup.calibration.m * static_cast<double>(result.seconds) + setup.calibration.b;
      }
    }
    onReading(reading);
  }
  end.stopSignal = meter.stopSignal();
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
        break;
      case MeasureOutcome::TimedOut:
        ++summary.timedOut;
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

}  // namespace capmeter::cli
