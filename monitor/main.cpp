// capmeter-monitor: series of readings charted, checked and logged, on the
// vendor's D2XX driver library or the simulated chip.

#include <QApplication>
#include <iostream>
#include <optional>

#include "device/vendor_library.h"
#if defined(CAPMETER_DIRECT_USB)
#include "device/direct_usb.h"
#endif
#include "measurement/clock.h"
#include "monitor/monitor_command_line.h"
#include "monitor/monitor_window.h"
#include "monitor/reading_log.h"
#include "sim/simulated_chip.h"
#include "ui/program_icon.h"
#include "ui/termination_signals.h"
#include "ui/window_trace.h"

namespace capmeter {
namespace {

// The driver library the monitor talks to. The choice is made here alone.
struct DriverChoice {
  std::optional<SimulatedChip> chip;
  std::optional<VendorLibrary> vendor;
#if defined(CAPMETER_DIRECT_USB)
  std::optional<DirectUsb> usb;
#endif

  DriverLibrary& Library() {
#if defined(CAPMETER_DIRECT_USB)
    if (usb) return *usb;
#endif
    return chip ? static_cast<DriverLibrary&>(*chip) : *vendor;
  }
};

void ChooseDriver(const MonitorCommandLine& commandLine, Clock& clock, DriverChoice& choice) {
  if (commandLine.Simulate()) {
    choice.chip.emplace(clock, commandLine.Parts());
    choice.chip->SetCallLatency(commandLine.Latency());
#if defined(CAPMETER_DIRECT_USB)
  } else if (commandLine.Usb()) {
    choice.usb.emplace(*commandLine.Usb());
#endif
  } else {
    choice.vendor.emplace();
  }
}

int Run(const MonitorCommandLine& commandLine, char* programPath) {
  MonotonicClock clock;
  DriverChoice driver;
  ChooseDriver(commandLine, clock, driver);
  WindowTrace traced;
  if (!traced.Open(commandLine.TracePath(), driver.Library(), clock)) {
    std::cerr << commandLine.ErrorText("Cannot write the trace file '" + commandLine.TracePath() +
                                       "'.");
    return 2;
  }
  std::optional<ReadingLog> log;
  if (!commandLine.LogPath().empty() && !log.emplace().Open(commandLine.LogPath())) {
    std::cerr << commandLine.ErrorText("Cannot write the log: " + log->Problem() + ".");
    return 2;
  }

  // Qt sees no arguments: the command line has been read already.
  int qtArgc = 1;
  char* qtArgv[] = {programPath, nullptr};
  QApplication app(qtArgc, qtArgv);
  QApplication::setApplicationName(QString::fromUtf8(MonitorWindow::kCaption));
  QApplication::setDesktopFileName(QStringLiteral("capmeter-monitor"));
  SetProgramIcon();
  MonitorWindow window(traced.Driver(), clock, log ? &*log : nullptr);
  if (commandLine.InitialSlope() || commandLine.InitialIntercept()) {
    window.SetInitialCalibration(commandLine.InitialSlope().value_or("0"),
                                 commandLine.InitialIntercept().value_or("0"));
  }
  TerminationSignals ending([&window](int) { window.EndOnSignal(); });
#if defined(CAPMETER_DIRECT_USB)
  if (driver.usb) NoteDirectUsb(traced.Trace(), *driver.usb);
#endif
  if (driver.vendor) {
    driver.vendor->SetLoadFailureReport(
        [&window](std::string_view message) { window.ShowMessage(message); });
    NoteVendorLibrary(traced.Trace(), *driver.vendor);
  }
  window.Load();
  window.show();
  return QApplication::exec();
}

}  // namespace
}  // namespace capmeter

int main(int argc, char** argv) {
  // Read before Qt starts, so --help, --version and a bad option need no display.
  capmeter::MonitorCommandLine commandLine;
  const bool parsed = commandLine.Parse(std::vector<std::string>(argv + 1, argv + argc));
  if (const auto status = capmeter::AnswerCommandLine(commandLine, parsed, std::cout, std::cerr)) {
    return *status;
  }
  return capmeter::Run(commandLine, argv[0]);
}
