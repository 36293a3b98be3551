// capmeter-cli: the meter on the command line, on the vendor's driver library,
// the chip directly over USB or the simulated chip. Qt-free.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

#include "cli/check.h"
#include "cli/command_line.h"
#include "cli/interrupt.h"
#include "measurement/reading_formats.h"
#include "startup/driver_setup.h"

namespace capmeter::cli {
namespace {

bool StandardErrorIsTerminal() {
#if defined(_WIN32)
  return _isatty(_fileno(stderr)) != 0;
#else
  return isatty(STDERR_FILENO) != 0;
#endif
}

// The calibration file in the user's own folder; none when no variable
// names one.
std::optional<CalibrationStore> UserCalibrations() {
  const std::filesystem::path file =
      DefaultCalibrationFile([](const char* name) { return std::getenv(name); });
  if (file.empty()) return std::nullopt;
  return CalibrationStore(file);
}

// A yes from the user at the terminal; anything else, or no answer, is no.
bool AskYes(const std::string& question) {
  std::cout << question << std::flush;
  std::string answer;
  return std::getline(std::cin, answer) && (answer == "y" || answer == "Y" || answer == "yes");
}

// A sub-command as the program runs it.
using Command = std::function<int(CommandContext& context, ChosenDriver& driver)>;

// Sets up the driver the options ask for, the clock and the stop signals,
// and runs `command` in that context.
int RunWithDriver(const DriverOptions& options, const Command& command) {
  StopSwitch stop;
  InterruptCatcher interrupts(stop);
  MonotonicClock clock;
  std::string problem;
  const std::unique_ptr<ChosenDriver> driver = ChooseDriver(options, clock, problem);
  const std::optional<CalibrationStore> calibrations = UserCalibrations();
  if (!driver) {
    // The one thing that stops it is a trace file it cannot write: a failed
    // output.
    std::cerr << "capmeter-cli: " << problem << "\n";
    return kExitFailed;
  }
  CommandContext context{
      [&driver] { return driver->Load(); },
      driver->Library(),
      clock,
      {[&interrupts] { return interrupts.Signal(); },
       [&stop](Clock::Duration span) { stop.Rest(span); }},
      LocaleDecimalSeparator(),
      &driver->Selection(),
      calibrations ? &*calibrations : nullptr,
  };
  return command(context, *driver);
}

int Measure(const DriverOptions& driver, MeasureOptions options) {
  options.series.seed = NewSeed();
  std::ofstream file;
  if (!options.output.empty()) {
    file.open(options.output);
    if (!file) {
      std::cerr << "capmeter-cli: cannot write " << options.output << ": " << std::strerror(errno)
                << "\n";
      return kExitFailed;
    }
    options.progress = StandardErrorIsTerminal();
  }
  std::ostream& out = options.output.empty() ? std::cout : file;
  return RunWithDriver(driver, [&](CommandContext& context, ChosenDriver&) {
    return RunMeasure(context, options, out, std::cerr);
  });
}

int Calibrate(const DriverOptions& driver, CalibrateOptions options) {
  options.seed = NewSeed();
  options.askToSave = AskYes;
  return RunWithDriver(driver, [&](CommandContext& context, ChosenDriver& chosen) {
    const ConnectStep connect = [&](const KnownCapacitor& capacitor) {
      if (chosen.Chip() != nullptr) {
        CircuitParts parts = driver.parts;
        parts.capacitanceFarads = capacitor.microfarads * 1e-6;
        chosen.Chip()->Circuit().SetParts(parts);
      }
      if (options.yes) {
        std::cout << "Measuring " << capacitor.text << "\n";
        return context.control.stopSignal() == 0;
      }
      std::cout << "Connect " << capacitor.text << " and press Enter" << std::endl;
      std::string answer;
      const bool answered = static_cast<bool>(std::getline(std::cin, answer));
      return answered && context.control.stopSignal() == 0;
    };
    return RunCalibrate(context, options, connect, std::cout, std::cerr);
  });
}

int Zero(const DriverOptions& driver, ZeroOptions options, bool yes) {
  options.seed = NewSeed();
  return RunWithDriver(driver, [&](CommandContext& context, ChosenDriver& chosen) {
    const DisconnectStep disconnect = [&] {
      if (chosen.Chip() != nullptr) {
        CircuitParts parts = driver.parts;
        parts.capacitanceFarads = 0.0;
        chosen.Chip()->Circuit().SetParts(parts);
      }
      if (yes) return context.control.stopSignal() == 0;
      std::cout << "Take the capacitor off, leave the wiring, and press Enter" << std::endl;
      std::string answer;
      const bool answered = static_cast<bool>(std::getline(std::cin, answer));
      return answered && context.control.stopSignal() == 0;
    };
    return RunZero(context, options, disconnect, std::cout, std::cerr);
  });
}

int Calibrations(CalibrationAction action, const LineFilter& filter, ListFormat format) {
  const std::optional<CalibrationStore> calibrations = UserCalibrations();
  return RunCalibrationCommand(calibrations ? &*calibrations : nullptr, action, filter, format,
                               std::cout, std::cerr);
}

int Serve(const DriverOptions& driver, const ServeOptions& options) {
  return RunWithDriver(driver, [&](CommandContext& context, ChosenDriver& chosen) {
    return RunServe(context, options, {chosen.Name(), chosen.Notes()}, std::cerr);
  });
}

}  // namespace
}  // namespace capmeter::cli

int main(int argc, char** argv) {
  using namespace capmeter::cli;
  const Commands commands{
      [](const capmeter::DriverOptions& driver, ListFormat format) {
        return RunWithDriver(driver, [&](CommandContext& context, capmeter::ChosenDriver&) {
          return RunList(context, format, std::cout, std::cerr);
        });
      },
      [](const capmeter::DriverOptions& driver, const CheckOptions& options) {
        return RunWithDriver(driver, [&](CommandContext& context, capmeter::ChosenDriver& chosen) {
          return RunCheck(context, std::cout, chosen.Notes(), options);
        });
      },
      Measure,
      Calibrate,
      Serve,
      Zero,
      Calibrations,
  };
  int status = RunCommandLine(argc, argv, commands, std::cout, std::cerr);
  // Whatever the command, what it printed must have arrived.
  errno = 0;
  std::cout.flush();
  if (!std::cout && status != kExitFailed) {
    if (errno != EPIPE) {
      std::cerr << "capmeter-cli: cannot write to standard output"
                << (errno != 0 ? std::string(": ") + std::strerror(errno) : "") << "\n";
    }
    status = kExitFailed;
  }
  return status;
}
