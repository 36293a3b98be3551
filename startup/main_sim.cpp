// capmeter-sim: the meter on the simulated chip and timing circuit, in real time.

#include "startup/meter_program.h"
#include "startup/sim_options.h"

int main(int argc, char** argv) {
  capmeter::SimCommandLine commandLine;
  return capmeter::RunMeterProgram(commandLine, argc, argv, "capmeter-sim");
}
