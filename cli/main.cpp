// capmeter-cli: the meter on the command line, on the vendor's driver library,
// the chip directly over USB or the simulated chip. Qt-free.

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <thread>

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

#include "cli/check.h"
#include "cli/command_line.h"
#include "cli/interrupt.h"
#include "device/trace_driver.h"
#include "device/vendor_library.h"
#include "measurement/result_text.h"
#include "sim/simulated_chip.h"
#if defined(CAPMETER_DIRECT_USB)
#include "cli/usb_check.h"
#include "device/direct_usb.h"
#endif

namespace capmeter::cli {
namespace {

std::string SimulationText(const DriverOptions& driver) {
  const auto number = [](double v) { return GeneralText(static_cast<float>(v), "."); };
  return "none needed, simulated chip and timing circuit (R = " +
         number(driver.parts.resistanceOhms) +
         " ohm, C = " + number(driver.parts.capacitanceFarads) + " F, round trip " +
         number(std::chrono::duration<double>(driver.latency).count()) + " s)";
}

// Sleeps rather than spins: pauses between readings can be long. Returns
// early once a stop signal came.
void Rest(Clock::Duration span, const InterruptCatcher& interrupts) {
  constexpr auto kSlice = std::chrono::milliseconds(20);
  const auto until = std::chrono::steady_clock::now() + span;
  while (interrupts.Signal() == 0) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= until) {
      break;
    }
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(until - now, kSlice));
  }
}

bool StandardErrorIsTerminal() {
#if defined(_WIN32)
  return _isatty(_fileno(stderr)) != 0;
#else
  return isatty(STDERR_FILENO) != 0;
#endif
}

// What a sub-command may need of its driver beyond the context: the
// simulated chip when there is one, and what the driver adds to check.
struct ChosenDriver {
  SimulatedChip* chip = nullptr;
  CheckNotes checkNotes;
};

// A sub-command as the program runs it.
using Command = std::function<int(CommandContext& context, const ChosenDriver& chosen)>;

// Sets up the driver library the options ask for (the vendor's, the direct
// USB driver or the simulated chip, traced or not), the clock and the stop
// signals, and runs `command` in that context.
int RunWithDriver(const DriverOptions& driver, const Command& command) {
  InterruptCatcher interrupts;
  MonotonicClock clock;
  std::optional<SimulatedChip> chip;
  std::optional<VendorLibrary> vendor;
  ChosenDriver chosen;
  DriverLibrary* library = nullptr;
  std::function<LibraryLoad()> load;
  std::function<std::string(FT_STATUS)> statusNames;
#if defined(CAPMETER_DIRECT_USB)
  std::optional<DirectUsb> direct;
#endif
  if (driver.simulate) {
    library = chosen.chip = &chip.emplace(clock, driver.parts);
    chip->SetCallLatency(driver.latency);
    load = [&driver] { return LibraryLoad{true, SimulationText(driver)}; };
#if defined(CAPMETER_DIRECT_USB)
  } else if (driver.usb) {
    library = &direct.emplace(*driver.usb);
    load = UsbLibraryLoad;
    statusNames = &DirectUsb::StatusName;
    chosen.checkNotes = UsbCheckNotes(*direct);
#endif
  } else {
    library = &vendor.emplace();
    load = [&vendor] { return LoadVendorLibrary(*vendor); };
  }

  std::ofstream traceFile;
  std::optional<TraceDriver> trace;
  if (!driver.trace.empty()) {
    if (driver.trace != "-") {
      traceFile.open(driver.trace);
      if (!traceFile) {
        std::cerr << "capmeter-cli: cannot write the trace file " << driver.trace << "\n";
        return kExitUsage;
      }
    }
    std::ostream& to = driver.trace == "-" ? std::cerr : traceFile;
    library = &trace.emplace(*library, to, [&clock] { return clock.Now(); });
    trace->SetStatusNames(statusNames);
  }

  CommandContext context{
      [&]() {
        const LibraryLoad loaded = load();
        if (trace) {
          trace->Note("driver library: " + loaded.text);
        }
        return loaded;
      },
      *library,
      clock,
      {[&interrupts] { return interrupts.Signal(); },
       [&interrupts](Clock::Duration span) { Rest(span, interrupts); }},
      LocaleDecimalSeparator(),
  };
  return command(context, chosen);
}

int Measure(const DriverOptions& driver, MeasureOptions options) {
  options.series.seed = NewSeed();
  std::ofstream file;
  if (!options.output.empty()) {
    file.open(options.output);
    if (!file) {
      std::cerr << "capmeter-cli: cannot write " << options.output << ": " << std::strerror(errno)
                << "\n";
      return kExitUsage;
    }
    options.progress = StandardErrorIsTerminal();
  }
  std::ostream& out = options.output.empty() ? std::cout : file;
  return RunWithDriver(driver, [&](CommandContext& context, const ChosenDriver&) {
    return RunMeasure(context, options, out, std::cerr);
  });
}

int Calibrate(const DriverOptions& driver, CalibrateOptions options) {
  options.seed = NewSeed();
  return RunWithDriver(driver, [&](CommandContext& context, const ChosenDriver& chosen) {
    const ConnectStep connect = [&](const KnownCapacitor& capacitor) {
      if (chosen.chip != nullptr) {
        chosen.chip->Circuit().SetParts(
            {driver.parts.resistanceOhms, capacitor.microfarads * 1e-6});
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

// What *IDN? names as the driver.
std::string DriverName(const DriverOptions& driver) {
  if (driver.simulate) return "simulated chip";
  if (driver.usb) return "direct USB driver";
  return "driver library";
}

int Serve(const DriverOptions& driver, const ServeOptions& options) {
  return RunWithDriver(driver, [&](CommandContext& context, const ChosenDriver& chosen) {
    return RunServe(context, options, {DriverName(driver), chosen.checkNotes}, std::cerr);
  });
}

}  // namespace
}  // namespace capmeter::cli

int main(int argc, char** argv) {
  using namespace capmeter::cli;
  const Commands commands{
      [](const DriverOptions& driver) {
        return RunWithDriver(driver, [](CommandContext& context, const ChosenDriver& chosen) {
          return RunCheck(context, std::cout, chosen.checkNotes);
        });
      },
      Measure,
      Calibrate,
      Serve,
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
