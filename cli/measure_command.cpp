#include "cli/measure_command.h"

#include <ostream>
#include <vector>

#include "measurement/lenient_number.h"

namespace capmeter::cli {

int RunMeasure(Meter& meter, const MeasureOptions& options, std::ostream& out, std::ostream& err) {
  const LibraryLoad load = meter.loadLibrary();
  DeviceSession session(meter.library);
  if (ReportUnreachable(load, session, err)) {
    return kExitFailed;
  }

  SeriesSetup setup;
  setup.count = options.count;
  setup.interval = options.interval;
  setup.dither = options.dither;
  setup.seed = options.seed;
  setup.calibration.slope = LenientNumber(options.slope);
  if (setup.calibration.slope != 0.0) {
    // As the window: the intercept counts only with a slope.
    setup.calibration.intercept = LenientNumber(options.intercept);
  }
  const bool withCapacitance = setup.calibration.slope != 0.0;

  ReadingReport report(options.format, out, options.decimalSeparator, withCapacitance);
  std::vector<Reading> readings;
  report.Begin();
  const SeriesEnd end = RunSeries(meter.library, meter.clock, session.Handle(), setup,
                                  meter.control, [&](const Reading& reading) {
                                    readings.push_back(reading);
                                    report.Add(reading);
                                    if (options.progress) {
                                      err << "\rreading " << reading.index << " of "
                                          << options.count << ": " << OutcomeWord(reading.outcome)
                                          << "   " << std::flush;
                                    }
                                  });
  if (options.progress) {
    err << '\n';
  }

  // The device goes back before the summary, so an interrupted run lets go
  // of it at once.
  const bool closedCleanly = ReportClosing(session.Close(), err);
  const Summary summary = Summarize(readings, withCapacitance);
  report.Finish(summary, {options.count, end.stopSignal, end.pollPeriod}, err);

  if (end.stopSignal != 0) {
    return ExitForSignal(end.stopSignal);
  }
  const bool allGood = summary.ok == options.count;
  return allGood && closedCleanly ? kExitOk : kExitFailed;
}

}  // namespace capmeter::cli
