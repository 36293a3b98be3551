// capmeter-sim: the meter on the simulated chip and timing circuit, in real time.

#include <QApplication>
#include <iostream>

#include "measurement/clock.h"
#include "sim/simulated_chip.h"
#include "ui/frm_main.h"
#include "ui/sim_options.h"

int main(int argc, char** argv) {
  // Read before Qt starts, so --help and a bad value need no display.
  const capmeter::SimOptionsResult parsed =
      capmeter::ParseSimOptions(std::vector<std::string>(argv + 1, argv + argc));
  if (!parsed.options) {
    std::cerr << "capmeter-sim: " << parsed.error << "\n\n" << capmeter::SimUsage();
    return 2;
  }
  if (parsed.options->showHelp) {
    std::cout << capmeter::SimUsage();
    return 0;
  }

  int qtArgc = 1;
  QApplication app(qtArgc, argv);
  QApplication::setApplicationName(QString::fromUtf8(capmeter::frmMain::kMessageTitle));
  capmeter::MonotonicClock clock;
  capmeter::SimulatedChip chip(clock, parsed.options->parts);
  capmeter::frmMain window(chip, clock);
  window.Load();
  window.show();
  return QApplication::exec();
}
