#include "cli/measure_command.h"

#include <cerrno>
#include <cstring>
#include <ostream>
#include <vector>

#include "cli/stored_calibration.h"

namespace capmeter::cli {

namespace {

// Says once why the readings could not be written. A reader that went away
// (`| head`) is no news to the user, so that is left unsaid.
void ReportWriteFailure(const std::string& output, int error, std::ostream& err) {
  if (error == EPIPE) {
    return;
  }
  err << "capmeter-cli: cannot write " << (output.empty() ? "to standard output" : output);
  if (error != 0) {
    err << ": " << std::strerror(error);
  }
  err << "; the readings stopped.\n";
}

}  // namespace

int RunMeasure(CommandContext& context, const MeasureOptions& options, std::ostream& out,
               std::ostream& err) {
  const DriverLoad load = context.loadLibrary();
  DeviceSession session(context.library);
  if (ReportUnreachable(context, load, session, err)) {
    return kExitFailed;
  }

  const std::unique_ptr<ReadingWriter> writer =
      options.format->makeWriter(out, err, context.decimalSeparator);
  // The first failed write is kept with its reason, read at once before
  // anything else can change errno.
  int writeError = 0;
  bool writeFailed = false;
  const auto written = [&] {
    if (!writeFailed && !out) {
      writeFailed = true;
      writeError = errno;
    }
    return !writeFailed;
  };

  SeriesSetup setup = options.series;
  setup.timing = ChooseAndSayTiming(setup.timing, session, context, err).timing;
  if (options.useStoredLine) {
    const StoredLineLookup stored =
        LookUpStoredLine(context, session.Handle(), setup.timing, setup.sampleClock.requestedRate,
                         options.label, err);
    if (stored.failed) return kExitFailed;
    if (stored.line) setup.calibration = stored.line->InUse();
  }

  std::vector<Reading> readings;
  SeriesEnd end;
  errno = 0;
  writer->Begin();
  if (written()) {
    end = RunSeries(context.library, context.clock, session.Handle(), setup, context.control,
                    [&](const Reading& reading) {
                      readings.push_back(reading);
                      writer->Add(reading);
                      if (options.progress) {
                        err << "\rreading " << reading.index << " of " << options.series.count
                            << ": " << OutcomeWord(reading.outcome) << "   " << std::flush;
                      }
                      return written();
                    });
  }
  if (options.progress && !readings.empty()) {
    err << '\n';
  }

  // The device goes back before the summary, so an interrupted run lets go
  // of it at once.
  const bool closedCleanly = CloseAndReport(session, err);
  if (writeFailed) {
    ReportWriteFailure(options.output, writeError, err);
    return kExitFailed;
  }
  const Summary summary = Summarize(readings, setup.calibration.slope != 0.0);
  writer->Finish(summary, {options.series.count,
                           static_cast<int>(readings.size()),
                           end.stopSignal,
                           end.pollPeriod,
                           end.timing,
                           {end.askedRate, end.sampleRate, end.rateError}});
  if (!written()) {
    ReportWriteFailure(options.output, writeError, err);
    return kExitFailed;
  }

  if (end.stopSignal != 0) {
    return ExitForSignal(end.stopSignal);
  }
  const bool allGood = summary.ok == options.series.count;
  return allGood && closedCleanly ? kExitOk : kExitFailed;
}

}  // namespace capmeter::cli
