// capmeter-monitor: series of readings charted, checked and logged, on the
// vendor's D2XX driver library, the chip directly over USB or the simulated
// chip.

#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>

#include "calibration/calibration_store.h"
#include "measurement/reading_log.h"
#include "monitor/monitor_command_line.h"
#include "monitor/monitor_window.h"
#include "startup/window_program.h"

int main(int argc, char** argv) {
  // Read before Qt starts, so --help, --version and a bad option need no display.
  capmeter::MonitorCommandLine commandLine;
  const bool parsed = commandLine.Parse(std::vector<std::string>(argv + 1, argv + argc));
  if (const auto status = capmeter::AnswerCommandLine(commandLine, parsed, std::cout, std::cerr)) {
    return *status;
  }
  std::optional<capmeter::ReadingLog> log;
  if (!commandLine.LogPath().empty() && !log.emplace().Open(commandLine.LogPath())) {
    // A failed output, not a bad command line.
    std::cerr << commandLine.Program() << ": Cannot write the log: " << log->Problem() << ".\n";
    return 1;
  }
  // Looked in at each Start, so a line saved meanwhile by capmeter-cli counts.
  std::optional<capmeter::CalibrationStore> calibrations;
  if (commandLine.UsesStoredCalibration()) {
    if (auto file =
            capmeter::DefaultCalibrationFile([](const char* name) { return std::getenv(name); });
        !file.empty()) {
      calibrations.emplace(std::move(file));
    }
  }
  return capmeter::RunWindowProgram(
      commandLine, commandLine.Driver(), argv[0], capmeter::MonitorWindow::kCaption,
      "capmeter-monitor",
      [&log, &commandLine, &calibrations](capmeter::ChosenDriver& chosen, capmeter::Clock& clock) {
        capmeter::SelectedChip& driver = chosen.Selection();
        auto window =
            std::make_unique<capmeter::MonitorWindow>(driver, clock, log ? &*log : nullptr);
        window->SetChipSerialNumber([&driver] {
          const std::optional<capmeter::DeviceInfo> chip = driver.OpenChip();
          return chip ? chip->serialNumber : std::string();
        });
        window->SetInitialTiming(commandLine.ReadingTiming(), commandLine.SampleRate());
        if (capmeter::SimulatedChip* chip = chosen.Chip()) {
          // What the user does by hand before a zero: the capacitor off, the wiring left.
          window->SetOpenCircuit([chip, parts = commandLine.Driver().parts](bool open) {
            capmeter::CircuitParts now = parts;
            if (open) now.capacitanceFarads = 0.0;
            chip->Circuit().SetParts(now);
          });
        }
        window->UseStoredCalibrations(calibrations ? &*calibrations : nullptr, commandLine.Label());
        return window;
      });
}
