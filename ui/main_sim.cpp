// capmeter-sim: the meter on the simulated chip and timing circuit, in real time.

#include <iostream>

#include "measurement/clock.h"
#include "sim/simulated_chip.h"
#include "ui/sim_options.h"
#include "ui/window_program.h"

int main(int argc, char** argv) {
  // Read before Qt starts, so --help, --version and a bad value need no display.
  capmeter::SimCommandLine commandLine;
  const bool parsed = commandLine.Parse(std::vector<std::string>(argv + 1, argv + argc));
  if (const auto status = capmeter::AnswerCommandLine(commandLine, parsed, std::cout, std::cerr)) {
    return *status;
  }

  capmeter::MonotonicClock clock;
  capmeter::SimulatedChip chip(clock, commandLine.Parts());
  return capmeter::RunWindowProgram(commandLine, chip, clock, argv[0], "capmeter-sim");
}
