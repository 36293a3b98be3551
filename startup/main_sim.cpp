// capmeter-sim: the meter on the simulated chip and timing circuit, in real time.

#include <iostream>
#include <memory>

#include "startup/sim_options.h"
#include "startup/window_program.h"
#include "ui/frm_main.h"

int main(int argc, char** argv) {
  // Read before Qt starts, so --help, --version and a bad value need no display.
  capmeter::SimCommandLine commandLine;
  const bool parsed = commandLine.Parse(std::vector<std::string>(argv + 1, argv + argc));
  if (const auto status = capmeter::AnswerCommandLine(commandLine, parsed, std::cout, std::cerr)) {
    return *status;
  }
  return capmeter::RunWindowProgram(commandLine, commandLine.Driver(), argv[0],
                                    capmeter::frmMain::kMessageTitle, "capmeter-sim",
                                    [](capmeter::DriverLibrary& driver, capmeter::Clock& clock) {
                                      return std::make_unique<capmeter::frmMain>(driver, clock);
                                    });
}
