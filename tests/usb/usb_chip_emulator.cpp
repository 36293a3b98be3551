// usb-chip-emulator: runs a program with the emulated chip on its USB bus, for
// the end-to-end tests of the direct USB driver.
//
// Usage: usb-chip-emulator [--unplug-after-reads N] PROGRAM [ARGUMENTS...]
// Exits with the program's status (128 + the signal that ended it).

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <string>
#include <string_view>

#include "tests/usb/emulated_chip.h"

namespace {

int Usage(std::string_view why) {
  std::cerr << "usb-chip-emulator: " << why
            << "\nUsage: usb-chip-emulator [--unplug-after-reads N] PROGRAM [ARGUMENTS...]\n";
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
  if (argc > 2 && std::string_view(argv[1]) == "--unplug-after-reads") {
    unplugAfterReads = std::stoi(argv[2]);
    first = 3;
  }
  if (first >= argc) {
    return Usage("which program?");
  }
  capmeter::testing::EmulatedChip chip;
  if (unplugAfterReads >= 0) {
    chip.UnplugAfterPinReads(unplugAfterReads);
  }
  return Run(argv + first);
}
