// capmeter: the meter on the vendor's D2XX driver library, bound at run time.

#include <QApplication>
#include <iostream>

#include "device/vendor_library.h"
#include "measurement/clock.h"
#include "ui/command_line.h"
#include "ui/frm_main.h"
#include "ui/program_icon.h"
#include "ui/termination_signals.h"
#include "ui/window_trace.h"

namespace {

constexpr const char* kDetails =
    "The meter drives a USB interface chip in bit-bang mode through the chip\n"
    "vendor's D2XX driver library (libftd2xx.so, libftd2xx.dylib or FTD2XX.DLL),\n"
    "loaded when the program starts. It opens the first device the library\n"
    "knows. Each press of Sample times how long input pin D1 stays high after\n"
    "the trigger and shows that time and the capacitance m x t + b in\n"
    "microfarads, with m and b as typed into the window.\n"
    "\n"
    "capmeter-sim runs the same window on a simulated chip and circuit.\n";

}  // namespace

int main(int argc, char** argv) {
  // Read before Qt starts, so --help, --version and a bad option need no display.
  capmeter::CommandLine commandLine(
      "capmeter", "A capacitance meter over USB, on a timing circuit driven by a USB chip.",
      kDetails);
  const bool parsed = commandLine.Parse(std::vector<std::string>(argv + 1, argv + argc));
  if (const auto status = capmeter::AnswerCommandLine(commandLine, parsed, std::cout, std::cerr)) {
    return *status;
  }

  capmeter::MonotonicClock clock;
  capmeter::VendorLibrary library;
  capmeter::WindowTrace traced;
  if (!traced.Open(commandLine.TracePath(), library, clock)) {
    std::cerr << commandLine.ErrorText("Cannot write the trace file '" + commandLine.TracePath() +
                                       "'.");
    return 2;
  }

  int qtArgc = 1;
  QApplication app(qtArgc, argv);
  QApplication::setApplicationName(QString::fromUtf8(capmeter::frmMain::kMessageTitle));
  QApplication::setDesktopFileName("capmeter");
  capmeter::SetProgramIcon();
  capmeter::frmMain window(traced.Driver(), clock);
  if (commandLine.InitialSlope() || commandLine.InitialIntercept()) {
    window.SetInitialCalibration(commandLine.InitialSlope().value_or("0"),
                                 commandLine.InitialIntercept().value_or("0"));
  }
  capmeter::TerminationSignals ending([&window](int) { window.EndOnSignal(); });
  // The library is loaded by the first open, during the load below; if that
  // fails the user is told why, in a box like the device messages.
  library.SetLoadFailureReport(
      [&window](std::string_view message) { window.ShowMessage(message); });
  if (capmeter::TraceDriver* trace = traced.Trace()) {
    // Loaded a moment early, so the trace can say which file it was.
    trace->Note(library.EnsureLoaded() ? "driver library: loaded " + library.LoadedFile()
                                       : "driver library: could not load " + library.LoadError());
  }
  window.Load();
  window.show();
  return QApplication::exec();
}
