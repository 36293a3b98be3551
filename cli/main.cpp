// capmeter-cli: the meter on the command line, on the vendor's driver library
// or the simulated chip. Qt-free.

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iostream>
#include <optional>
#include <random>
#include <string>
#include <thread>

#include "capmeter_version.h"
#include "cli/check.h"
#include "cli/command_line.h"
#include "cli/interrupt.h"
#include "device/trace_driver.h"
#include "device/vendor_library.h"
#include "measurement/result_text.h"
#include "sim/simulated_chip.h"

namespace capmeter::cli {
namespace {

std::string SimulationText(const SimulationOptions& sim) {
  const auto number = [](double v) { return GeneralText(static_cast<float>(v), "."); };
  return "none needed, simulated chip and timing circuit (R = " + number(sim.parts.resistanceOhms) +
         " ohm, C = " + number(sim.parts.capacitanceFarads) + " F, round trip " +
         number(std::chrono::duration<double>(sim.latency).count()) + " s)";
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

int Run(CommandLine& line) {
  const std::string separator = LocaleDecimalSeparator();
  line.measure.decimalSeparator = separator;
  line.calibrate.decimalSeparator = separator;
  std::random_device entropy;
  line.measure.seed = line.calibrate.seed =
      (static_cast<std::uint64_t>(entropy()) << 32) ^ static_cast<std::uint64_t>(entropy());

  InterruptCatcher interrupts;
  MonotonicClock clock;
  std::optional<SimulatedChip> chip;
  std::optional<VendorLibrary> vendor;
  DriverLibrary* driver = nullptr;
  if (line.simulation.enabled) {
    driver = &chip.emplace(clock, line.simulation.parts);
    chip->SetCallLatency(line.simulation.latency);
  } else {
    driver = &vendor.emplace();
  }

  std::ofstream traceFile;
  std::optional<TraceDriver> trace;
  if (!line.trace.empty()) {
    if (line.trace != "-") {
      traceFile.open(line.trace);
      if (!traceFile) {
        std::cerr << "capmeter-cli: cannot write the trace file " << line.trace << "\n";
        return kExitUsage;
      }
    }
    std::ostream& to = line.trace == "-" ? std::cerr : traceFile;
    driver = &trace.emplace(*driver, to, [&clock] { return clock.Now(); });
  }

  Meter meter{
      [&]() {
        LibraryLoad load;
        if (chip) {
          load = {true, SimulationText(line.simulation)};
        } else {
          load = LoadVendorLibrary(*vendor);
        }
        if (trace) {
          trace->Note("driver library: " + load.text);
        }
        return load;
      },
      *driver,
      clock,
      {[&interrupts] { return interrupts.Signal(); },
       [&interrupts](Clock::Duration span) { Rest(span, interrupts); }},
  };

  switch (line.command) {
    case Command::Check:
      return RunCheck(meter, std::cout);
    case Command::Measure: {
      std::ofstream file;
      if (!line.output.empty()) {
        file.open(line.output);
        if (!file) {
          std::cerr << "capmeter-cli: cannot write " << line.output << "\n";
          return kExitUsage;
        }
      }
      std::ostream& out = line.output.empty() ? std::cout : file;
      return RunMeasure(meter, line.measure, out, std::cerr);
    }
    case Command::Calibrate: {
      const ConnectStep connect = [&](const KnownCapacitor& capacitor) {
        if (chip) {
          chip->Circuit().SetParts(
              {line.simulation.parts.resistanceOhms, capacitor.microfarads * 1e-6});
        }
        if (line.yes) {
          std::cout << "Measuring " << capacitor.text << "\n";
          return interrupts.Signal() == 0;
        }
        std::cout << "Connect " << capacitor.text << " and press Enter" << std::endl;
        std::string answer;
        const bool answered = static_cast<bool>(std::getline(std::cin, answer));
        return answered && interrupts.Signal() == 0;
      };
      return RunCalibrate(meter, line.calibrate, connect, std::cout, std::cerr);
    }
  }
  return kExitUsage;
}

}  // namespace
}  // namespace capmeter::cli

int main(int argc, char** argv) {
  capmeter::cli::ParsedCommandLine parsed = capmeter::cli::ParseCommandLine(
      argc, argv, capmeter::kVersionDescription, std::cout, std::cerr);
  if (!parsed.commandLine) {
    return parsed.exitCode;
  }
  return capmeter::cli::Run(*parsed.commandLine);
}
