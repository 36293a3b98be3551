#include "cli/calibrate_command.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <ostream>

#include "capmeter_version.h"
#include "cli/stored_calibration.h"
#include "measurement/line_fit.h"
#include "measurement/reading_formats.h"
#include "measurement/reading_text.h"
#include "measurement/result_text.h"
#include "measurement/series.h"
#include "measurement/statistics.h"

namespace capmeter::cli {

namespace {

// One capacitor's readings.
struct Step {
  const KnownCapacitor* capacitor = nullptr;
  std::vector<double> seconds;  // the readings that gave a time
  double bound = 0.0;           // the largest bound of those readings, seconds
  Summary summary;
};

}  // namespace

int RunCalibrate(CommandContext& context, const CalibrateOptions& options,
                 const ConnectStep& connect, std::ostream& out, std::ostream& err) {
  const auto different = [&](const KnownCapacitor& c) {
    return !SameLevel(c.microfarads, options.capacitors.front().microfarads);
  };
  if (std::none_of(options.capacitors.begin(), options.capacitors.end(), different)) {
    err << "capmeter-cli: calibration needs at least two different capacitors, such as 1u "
           "10u.\n";
    return kExitUsage;
  }

  const DriverLoad load = context.loadLibrary();
  DeviceSession session(context.library);
  if (ReportUnreachable(context, load, session, err)) {
    return kExitFailed;
  }

  const std::string& sep = context.decimalSeparator;
  std::vector<Step> steps;
  // Measured before the first capacitor's readings, and kept for the others.
  SampleClock sampleClock = options.sampleClock;
  const TimingChoice timing = ChooseAndSayTiming(options.timing, session, context, err);
  const OpenChipKey key = KeyForOpenChip(context, session.Handle(), timing.timing,
                                         options.sampleClock.requestedRate, options.label);
  int stopSignal = 0;
  bool unanswered = false;
  for (const KnownCapacitor& capacitor : options.capacitors) {
    if (!connect(capacitor)) {
      stopSignal = context.control.stopSignal();
      unanswered = stopSignal == 0;
      break;
    }
    SeriesSetup setup;
    setup.count = options.count;
    setup.dither = options.dither;
    setup.seed = options.seed + steps.size();
    setup.timing = timing.timing;
    setup.sampleClock = sampleClock;
    Step step{&capacitor, {}, 0.0, {}};
    std::vector<Reading> readings;
    const SeriesEnd end =
        RunSeries(context.library, context.clock, session.Handle(), setup, context.control,
                  [&](const Reading& r) {
                    readings.push_back(r);
                    if (r.HasTime()) {
                      step.seconds.push_back(r.seconds);
                      step.bound = std::max(step.bound, static_cast<double>(r.boundSeconds));
                    }
                    return true;
                  });
    sampleClock = {end.askedRate, end.sampleRate, end.rateError};
    step.summary = Summarize(readings, false);
    const Statistics& t = step.summary.seconds;
    out << "  " << capacitor.text << ": " << step.summary.ok << " of " << options.count
        << " readings ok";
    if (t.count > 0) {
      out << ", mean t " << GeneralText(static_cast<float>(t.mean), sep) << " s";
      if (t.standardDeviation) {
        out << " (std. dev. " << GeneralText(static_cast<float>(*t.standardDeviation), sep)
            << " s)";
      }
    }
    out << '\n' << std::flush;
    steps.push_back(std::move(step));
    if (end.stopSignal != 0) {
      stopSignal = end.stopSignal;
      break;
    }
  }

  const bool closedCleanly = CloseAndReport(session, err);
  if (stopSignal != 0) {
    err << "capmeter-cli: calibration stopped; no line was fitted.\n";
    return ExitForSignal(stopSignal);
  }
  if (unanswered) {
    err << "capmeter-cli: no answer to the prompt (end of input); no line was fitted.\n";
    return kExitFailed;
  }

  std::vector<FitPoint> points;
  for (const Step& step : steps) {
    if (step.seconds.empty()) {
      err << "capmeter-cli: no reading of " << step.capacitor->text << " gave a time ("
          << step.summary.readErrors << " read errors, " << step.summary.timedOut << " timed out, "
          << step.summary.belowRange << " below range); no line was fitted.\n";
      return kExitFailed;
    }
    for (const double t : step.seconds) points.push_back({t, step.capacitor->microfarads});
  }

  const LineFit fit = FitLine(points);
  if (fit.problem == FitProblem::NoSpread) {
    err << "capmeter-cli: the charge times do not differ between the capacitors, so no line "
           "can be fitted. Is the capacitor really connected, and D1 wired to the timer?\n";
    return kExitUsage;
  }
  if (fit.problem == FitProblem::TooFewLevels) {  // ruled out above; kept for safety
    err << "capmeter-cli: calibration needs at least two different capacitors.\n";
    return kExitUsage;
  }

  const Line& line = fit.line;
  const auto Text = [&](double value) { return GeneralText(static_cast<float>(value), sep); };
  out << "\nLeast-squares line through " << points.size() << " readings: C = m × t + b\n"
      << "  m = " << BoxText(line.slope) << " µF/s\n"
      << "  b = " << BoxText(line.intercept) << " µF\n\n"
      << "Made with " << TimingName(timing.timing) << " timing";
  if (timing.timing == Timing::Stream) {
    out << " at " << Text(sampleClock.rate) << " S/s (" << Text(sampleClock.requestedRate)
        << " asked)";
  }
  out << "; a line made with one timing does not hold for the other: a polled time reads "
         "about one poll period late (half a period less with dither), a streamed one within "
         "two samples.\n\n"
      << "  " << Column("capacitor", 12) << Column("known (µF)", 14) << Column("mean t (s)", 14)
      << Column("line (µF)", 14) << "residual (µF)\n";
  for (const Step& step : steps) {
    const double meanT = step.summary.seconds.mean;
    const double known = step.capacitor->microfarads;
    // The residual of the mean time is the mean of the readings' residuals.
    out << "  " << Column(step.capacitor->text, 12) << Column(Text(known), 14)
        << Column(Text(meanT), 14) << Column(Text(line.At(meanT)), 14)
        << Text(line.Residual({meanT, known})) << '\n';
  }
  // The line holds where every capacitor's readings could be timed and its
  // mean lies on the line within what those readings' bounds allow.
  double spread = 0.0;  // the largest residual over its capacitor
  std::vector<std::string> doubtful;
  for (const Step& step : steps) {
    const double meanT = step.summary.seconds.mean;
    const double known = step.capacitor->microfarads;
    const double residual = line.Residual({meanT, known});
    spread = std::max(spread, std::abs(residual / known));
    if (step.summary.belowRange > 0) {
      doubtful.push_back(step.capacitor->text + ": " + std::to_string(step.summary.belowRange) +
                         " reading(s) below the range");
    } else if (std::abs(residual) > std::abs(line.slope) * step.bound) {
      doubtful.push_back(
          step.capacitor->text + ": " + Text(residual) + " µF off the line, beyond the ± " +
          Text(std::abs(line.slope) * step.bound) + " µF its readings' bounds allow");
    }
  }
  const std::string within = "fitted within ± " + Text(spread * 100.0) + " % of each capacitor";
  out << "\nThe line is " << within << ".\n";
  if (!doubtful.empty()) {
    for (const std::string& why : doubtful) err << "capmeter-cli: " << why << ".\n";
    if (!options.force) {
      err << "capmeter-cli: the line does not hold for every capacitor; it is not given to use "
             "(--force gives it all the same).\n";
      return kExitFailed;
    }
  }
  out << "\nType into the window's boxes:  m = " << BoxText(line.slope)
      << "   b = " << BoxText(line.intercept)
      << "\nor start it with:  capmeter --slope=" << BoxText(line.slope)
      << " --intercept=" << BoxText(line.intercept) << "   (" << within << ")\n";
  if (!options.save && (options.yes || !options.askToSave)) {
    if (context.calibrations != nullptr && key.key) {
      out << "To keep it for " << KeyText(*key.key)
          << ", calibrate again with --save; measure, serve and the monitor then use it.\n";
    }
    return closedCleanly ? kExitOk : kExitFailed;
  }
  if (context.calibrations == nullptr || !key.key) {
    err << "capmeter-cli: the line cannot be kept: "
        << (key.key ? "there is no folder for the calibration file (HOME is not set)" : key.whyNot)
        << ".\n";
    return kExitFailed;
  }
  if (!options.save && !options.askToSave("Keep this line for " + KeyText(*key.key) + " in " +
                                          context.calibrations->File().string() + "? [y/N] ")) {
    return closedCleanly ? kExitOk : kExitFailed;
  }
  StoredLine stored;
  stored.key = *key.key;
  stored.line = line;
  stored.made = UtcTimeText(context.control.wallClock());
  stored.spread = spread;
  stored.program = "capmeter-cli " + std::string(kVersion);
  for (const Step& step : steps) {
    const double meanT = step.summary.seconds.mean;
    stored.points.push_back({step.capacitor->microfarads, static_cast<int>(step.seconds.size()),
                             meanT, line.Residual({meanT, step.capacitor->microfarads})});
  }
  const std::string problem = context.calibrations->Update([&](CalibrationFile& file) {
    file.Keep(stored);
    return std::string();
  });
  if (!problem.empty()) {
    err << "capmeter-cli: the line was not kept: " << problem << ".\n";
    return kExitFailed;
  }
  out << "Kept as " << LineSummary(stored, sep) << ", in " << context.calibrations->File().string()
      << ".\n";
  return closedCleanly ? kExitOk : kExitFailed;
}

}  // namespace capmeter::cli
