// capmeter: the meter on the vendor's D2XX driver library, bound at run time,
// or with --usb on the chip reached directly through libusb.

#include "startup/hardware_options.h"
#include "startup/meter_program.h"

namespace {

constexpr const char* kDetails =
    "The meter drives a USB interface chip in bit-bang mode through the chip\n"
    "vendor's D2XX driver library (libftd2xx.so, libftd2xx.dylib or FTD2XX.DLL),\n"
    "loaded when the program starts. It opens the first device the library\n"
    "knows. Each press of Sample times how long input pin D1 stays high after\n"
    "the trigger and shows that time and the capacitance m x t + b in\n"
    "microfarads, with m and b as typed into the window.\n"
#if defined(CAPMETER_DIRECT_USB)
    "\n"
    "With --usb VID:PID it opens the first device with that USB ID itself,\n"
    "through libusb, and needs no vendor library; on Linux the kernel's driver\n"
    "lets go of the chip while the program holds it.\n"
#endif
    "\n"
    "capmeter-sim runs the same window on a simulated chip and circuit.\n";

}  // namespace

int main(int argc, char** argv) {
  capmeter::HardwareCommandLine commandLine(kDetails);
  return capmeter::RunMeterProgram(commandLine, argc, argv, "capmeter");
}
