// usb-chip-emulator: runs a program with the emulated chip on its USB bus, for
// the end-to-end tests of the direct USB driver.
//
// Usage: usb-chip-emulator [--chips N] [--unplug-after-reads N] [--family BCD] PROGRAM
// [ARGUMENTS...]
// --chips 2 puts two chips on the bus, serial numbers CM-USB-1 and CM-USB-2
// (tests/usb/emulated_chip.h); the program and every process it starts
// see them, each with transfers of its own. --unplug-after-reads applies to
// each chip. --family 0x0900 makes the chip one of that family
// (device/chip_family.h), one chip only for a high-speed family. Exits with
// the program's status (128 + the signal that ended
// it).

#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <string>
#include <string_view>

#include "tests/usb/emulated_chip.h"

namespace {

int Usage(std::string_view why) {
  std::cerr << "usb-chip-emulator: " << why
            << "\nUsage: usb-chip-emulator [--chips N] [--unplug-after-reads N] [--family BCD] "
               "PROGRAM [ARGUMENTS...]\n";
  return 2;
}

int Run(char** program) {
  const pid_t child = fork();
  if (child == 0) {
    // The testbed set UMOCKDEV_DIR here; the preload makes the child see it.
    const char* before = std::getenv("LD_PRELOAD");
    const std::string preload = std::string(CAPMETER_UMOCKDEV_PRELOAD) +
                                (before != nullptr ? std::string(":") + before : "");
    setenv("LD_PRELOAD", preload.c_str(), 1);
    execvp(program[0], program);
    std::cerr << "usb-chip-emulator: cannot run " << program[0] << "\n";
    _exit(127);
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child) {
    return 127;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

int main(int argc, char** argv) {
  int first = 1;
  int unplugAfterReads = -1;
  std::size_t chips = 1;
  std::uint16_t bcdDevice = capmeter::testing::kEmulatedFamily;
  for (; first + 1 < argc && std::string_view(argv[first]).starts_with("--"); first += 2) {
    const std::string_view option = argv[first];
    const int number = std::atoi(argv[first + 1]);
    if (option == "--family") {
      const capmeter::ChipFamily* family = capmeter::FamilyFromText(argv[first + 1]);
      if (family == nullptr) return Usage(std::string("no such family: ") + argv[first + 1]);
      bcdDevice = family->bcdDevice;
    } else if (option == "--unplug-after-reads") {
      unplugAfterReads = number;
    } else if (option == "--chips" && number >= 1 &&
               static_cast<std::size_t>(number) <= capmeter::testing::EmulatedBus::kMostChips) {
      chips = static_cast<std::size_t>(number);
    } else {
      return Usage("no such option, or no such count: " + std::string(option) + " " +
                   argv[first + 1]);
    }
  }
  if (first >= argc) {
    return Usage("which program?");
  }
  capmeter::testing::EmulatedBus bus(chips, {}, bcdDevice);
  if (unplugAfterReads >= 0) {
    for (std::size_t n = 0; n < bus.Size(); ++n) bus.Chip(n).UnplugAfterPinReads(unplugAfterReads);
  }
  return Run(argv + first);
}
