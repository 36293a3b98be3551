#pragma once

#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "startup/window_program.h"
#include "ui/frm_main.h"

namespace capmeter {

// capmeter and capmeter-sim: the command line read before Qt starts (so
// --help, --version and a bad option need no display), then frmMain on the
// driver it asks for.
template <class MeterCommandLine>
int RunMeterProgram(MeterCommandLine& commandLine, int argc, char** argv,
                    const char* desktopFileName) {
  const bool parsed = commandLine.Parse(std::vector<std::string>(argv + 1, argv + argc));
  if (const auto status = AnswerCommandLine(commandLine, parsed, std::cout, std::cerr)) {
    return *status;
  }
  return RunWindowProgram(commandLine, commandLine.Driver(), argv[0], frmMain::kMessageTitle,
                          desktopFileName, [](ChosenDriver& driver, Clock& clock) {
                            return std::make_unique<frmMain>(driver.Selection(), clock);
                          });
}

}  // namespace capmeter
