#include "ui/window_program.h"

#include <QApplication>
#include <iostream>

#include "ui/program_icon.h"
#include "ui/termination_signals.h"
#include "ui/window_trace.h"

namespace capmeter {

int RunWindowProgram(const CommandLine& commandLine, DriverLibrary& library, Clock& clock,
                     char* programPath, const char* desktopFileName,
                     const std::function<void(frmMain& window, TraceDriver* trace)>& beforeLoad) {
  WindowTrace traced;
  if (!traced.Open(commandLine.TracePath(), library, clock)) {
    std::cerr << commandLine.ErrorText("Cannot write the trace file '" + commandLine.TracePath() +
                                       "'.");
    return 2;
  }

  // Qt sees no arguments: the command line has been read already.
  int qtArgc = 1;
  char* qtArgv[] = {programPath, nullptr};
  QApplication app(qtArgc, qtArgv);
  QApplication::setApplicationName(QString::fromUtf8(frmMain::kMessageTitle));
  QApplication::setDesktopFileName(QString::fromUtf8(desktopFileName));
  SetProgramIcon();
  frmMain window(traced.Driver(), clock);
  if (commandLine.InitialSlope() || commandLine.InitialIntercept()) {
    window.SetInitialCalibration(commandLine.InitialSlope().value_or("0"),
                                 commandLine.InitialIntercept().value_or("0"));
  }
  TerminationSignals ending([&window](int) { window.EndOnSignal(); });
  if (beforeLoad) {
    beforeLoad(window, traced.Trace());
  }
  window.Load();
  window.show();
  return QApplication::exec();
}

}  // namespace capmeter
