#include "cli/zero_command.h"

#include <ostream>
#include <vector>

#include "calibration/open_chip.h"
#include "cli/stored_calibration.h"
#include "measurement/reading_text.h"
#include "measurement/result_text.h"
#include "measurement/series.h"

namespace capmeter::cli {

int RunZero(CommandContext& context, const ZeroOptions& options, const DisconnectStep& disconnect,
            std::ostream& out, std::ostream& err) {
  if (context.calibrations == nullptr) {
    err << "capmeter-cli: there is no folder for the calibration file (HOME is not set), so no "
           "zero can be kept.\n";
    return kExitFailed;
  }
  const CalibrationStore::Loaded loaded = context.calibrations->Load();
  if (!loaded.problem.empty()) {
    err << "capmeter-cli: " << loaded.problem << "; it is left as it is.\n";
    return kExitFailed;
  }
  const DriverLoad load = context.loadLibrary();
  DeviceSession session(context.library);
  if (ReportUnreachable(context, load, session, err)) return kExitFailed;

  const TimingChoice timing = ChooseAndSayTiming(options.timing, session, context, err);
  const OpenChipKey key = KeyForOpenChip(context, session.Handle(), timing.timing,
                                         options.sampleClock.requestedRate, options.label);
  if (!key.key) {
    err << "capmeter-cli: no zero can be kept: " << key.whyNot << ".\n";
    return kExitFailed;
  }
  const StoredLine* stored = loaded.contents.Find(*key.key);
  if (stored == nullptr) {
    err << "capmeter-cli: no calibration is stored for " << KeyText(*key.key)
        << "; the zero is kept with the chip's line, so calibrate with --save first.\n";
    return kExitFailed;
  }
  if (options.clear) {
    CloseAndReport(session, err);
    const std::string problem = KeepZero(*context.calibrations, *key.key, std::nullopt);
    if (!problem.empty()) {
      err << "capmeter-cli: the zero was not taken away: " << problem << ".\n";
      return kExitFailed;
    }
    out << "No zero is taken out of readings with " << KeyText(*key.key) << " now.\n";
    return kExitOk;
  }
  if (!disconnect()) {
    const int signal = context.control.stopSignal();
    CloseAndReport(session, err);
    if (signal != 0) return ExitForSignal(signal);
    err << "capmeter-cli: no answer to the prompt (end of input); no zero was taken.\n";
    return kExitFailed;
  }

  SeriesSetup setup;
  setup.count = options.count;
  setup.dither = options.dither;
  setup.seed = options.seed;
  setup.timing = timing.timing;
  setup.sampleClock = options.sampleClock;
  // The line itself, without the zero it may hold already.
  setup.calibration = stored->line;
  std::vector<Reading> readings;
  const SeriesEnd end = RunSeries(context.library, context.clock, session.Handle(), setup,
                                  context.control, [&](const Reading& r) {
                                    readings.push_back(r);
                                    return true;
                                  });
  const bool closedCleanly = CloseAndReport(session, err);
  if (end.stopSignal != 0) {
    err << "capmeter-cli: stopped; no zero was taken.\n";
    return ExitForSignal(end.stopSignal);
  }
  const ZeroTaken taken =
      TakeZero(readings, options.count, timing.timing, UtcTimeText(context.control.wallClock()));
  if (!taken.zero) {
    err << "capmeter-cli: " << taken.refusal << ".\n";
    return kExitFailed;
  }
  const OpenCircuitZero& zero = *taken.zero;
  const std::string& sep = context.decimalSeparator;
  const std::string problem = KeepZero(*context.calibrations, *key.key, zero);
  if (!problem.empty()) {
    err << "capmeter-cli: the zero was not kept: " << problem << ".\n";
    return kExitFailed;
  }
  out << "Open-circuit capacitance: " << ZeroText(zero.microfarads, sep) << " (" << zero.readings
      << " readings";
  if (taken.standardDeviation) out << ", std. dev. " << ZeroText(*taken.standardDeviation, sep);
  out << "), kept with the calibration " << KeyText(*key.key) << "; later readings take it out.\n";
  return closedCleanly ? kExitOk : kExitFailed;
}

}  // namespace capmeter::cli
