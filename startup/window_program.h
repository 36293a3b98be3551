#pragma once

#include <QApplication>
#include <iostream>
#include <memory>
#include <string>

#include "measurement/clock.h"
#include "startup/command_line.h"
#include "startup/driver_setup.h"
#include "startup/termination_signals.h"

namespace capmeter {

// The application object of a window program. Qt sees no arguments: the
// command line has been read already. Names the application, for the
// desktop's window list and the message boxes, and sets the program's icon.
class WindowApplication {
 public:
  WindowApplication(char* programPath, const char* applicationName, const char* desktopFileName);
  int Exec();

 private:
  int argc_ = 1;
  char* argv_[2];
  QApplication app_;
};

// What every window program does once its command line is read: make the
// driver it asks for (traced when asked), start Qt, make the window with
// `makeWindow(driver, clock)` (the driver chosen: its Selection() is the chip chosen), give it the
// initial texts of m and b, end it through its EndOnSignal on a termination signal, report a failed
// load of the vendor's library in it, load and show it, and run until it closes. When no chip
// matched --device or
// --serial, standard error names those that are there; the window shows its own failed open. The
// window needs Load, show, ShowMessage, SetInitialCalibration and EndOnSignal.
template <class MakeWindow>
int RunWindowProgram(const CommandLine& commandLine, const DriverOptions& driverOptions,
                     char* programPath, const char* applicationName, const char* desktopFileName,
                     MakeWindow makeWindow) {
  MonotonicClock clock;
  std::string problem;
  const std::unique_ptr<ChosenDriver> driver = ChooseDriver(driverOptions, clock, problem);
  if (!driver) {
    // A trace file it cannot write: a failed output, not a bad command line.
    std::cerr << commandLine.Program() << ": " << problem << "\n";
    return 1;
  }
  WindowApplication application(programPath, applicationName, desktopFileName);
  const auto window = makeWindow(*driver, clock);
  if (commandLine.InitialSlope() || commandLine.InitialIntercept()) {
    window->SetInitialCalibration(commandLine.InitialSlope().value_or("0"),
                                  commandLine.InitialIntercept().value_or("0"));
  }
  TerminationSignals ending([&window](int) { window->EndOnSignal(); });
  driver->SetLoadFailureReport(
      [&window](std::string_view message) { window->ShowMessage(message); });
  if (driver->Trace() != nullptr) {
    // Bound a moment early, so the trace names what the program talks to.
    driver->Load();
  }
  driver->Selection().SetChoiceFailureReport([&](const std::string& why) {
    std::cerr << commandLine.Program() << ": could not open "
              << ChoiceText(driver->Selection().Choice()) << ": " << why << "." << std::endl;
  });
  window->Load();
  window->show();
  return application.Exec();
}

}  // namespace capmeter
