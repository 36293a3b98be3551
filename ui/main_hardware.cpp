// capmeter: the meter on the vendor's D2XX driver library, bound at run time.

#include <iostream>

#include "device/vendor_library.h"
#include "measurement/clock.h"
#include "ui/command_line.h"
#include "ui/window_program.h"

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
  return capmeter::RunWindowProgram(
      commandLine, library, clock, argv[0], "capmeter",
      [&library](capmeter::frmMain& window, capmeter::TraceDriver* trace) {
        // The library is loaded by the first open, during the load; if that
        // fails the user is told why, in a box like the device messages.
        library.SetLoadFailureReport(
            [&window](std::string_view message) { window.ShowMessage(message); });
        if (trace != nullptr) {
          // Loaded a moment early, so the trace can say which file it was.
          trace->Note(library.EnsureLoaded()
                          ? "driver library: loaded " + library.LoadedFile()
                          : "driver library: could not load " + library.LoadError());
        }
      });
}
