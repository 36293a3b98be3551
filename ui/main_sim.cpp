// capmeter-sim: the meter on the simulated chip and timing circuit, in real time.

#include <QApplication>
#include <iostream>

#include "measurement/clock.h"
#include "sim/simulated_chip.h"
#include "ui/frm_main.h"
#include "ui/program_icon.h"
#include "ui/sim_options.h"
#include "ui/termination_signals.h"
#include "ui/window_trace.h"

int main(int argc, char** argv) {
  // Read before Qt starts, so --help, --version and a bad value need no display.
  capmeter::SimCommandLine commandLine;
  const bool parsed = commandLine.Parse(std::vector<std::string>(argv + 1, argv + argc));
  if (const auto status = capmeter::AnswerCommandLine(commandLine, parsed, std::cout, std::cerr)) {
    return *status;
  }

  capmeter::MonotonicClock clock;
  capmeter::SimulatedChip chip(clock, commandLine.Parts());
  capmeter::WindowTrace traced;
  if (!traced.Open(commandLine.TracePath(), chip, clock)) {
    std::cerr << commandLine.ErrorText("Cannot write the trace file '" + commandLine.TracePath() +
                                       "'.");
    return 2;
  }

  int qtArgc = 1;
  QApplication app(qtArgc, argv);
  QApplication::setApplicationName(QString::fromUtf8(capmeter::frmMain::kMessageTitle));
  QApplication::setDesktopFileName("capmeter-sim");
  capmeter::SetProgramIcon();
  capmeter::frmMain window(traced.Driver(), clock);
  if (commandLine.InitialSlope() || commandLine.InitialIntercept()) {
    window.SetInitialCalibration(commandLine.InitialSlope().value_or("0"),
                                 commandLine.InitialIntercept().value_or("0"));
  }
  capmeter::TerminationSignals ending([&window](int) { window.EndOnSignal(); });
  window.Load();
  window.show();
  return QApplication::exec();
}
