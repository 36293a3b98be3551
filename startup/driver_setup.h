#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "device/chip_choice.h"
#include "device/driver_library.h"
#include "device/trace_driver.h"
#include "device/usb_id.h"
#include "measurement/clock.h"
#include "sim/simulated_chip.h"
#include "sim/timing_circuit.h"

namespace capmeter {

// Which driver a program talks to, as its command line says: the vendor's
// library (the default), the chip directly over USB, or the simulated chip;
// and where its calls are traced.
struct DriverOptions {
  std::string trace;  // empty: none; "-": standard error
  bool simulate = false;
  std::optional<UsbId> usb;    // --usb: the direct USB driver for this ID
  CircuitParts parts;          // the simulated circuit
  Clock::Duration latency{0};  // the simulated round trip of each driver call
  double clockJitter = 0.0;    // the simulated sample clock's, as a fraction of its period
  const ChipFamily* family = FamilyForBcdDevice(kSimulatedFamily);  // the simulated chip's
  bool busyHost = true;     // the simulated chip's transfers handed over as a busy host does
  std::uint32_t chips = 1;  // how many simulated chips, on the one circuit
  ChipChoice chip;          // --device or --serial; device 0 without either
};

// What binding the driver came to, in words: which library file was loaded
// ("loaded libftd2xx.so (/usr/lib/...)"), or why none could be.
struct DriverLoad {
  bool loaded = false;
  std::string text;
};

// Binds the vendor's library now and says which file it found, or why none
// could be loaded and which names were tried.
class VendorLibrary;
DriverLoad LoadVendorLibrary(VendorLibrary& vendor);

// One line of the bring-up check: passed or not, and what it says.
struct CheckStep {
  bool passed = false;
  std::string text;
};

// What a driver that can tell more about the device adds to the check,
// around the open.
struct CheckNotes {
  std::function<std::vector<CheckStep>()> beforeOpen;   // the check stops after a failed one
  std::function<std::string(FT_STATUS)> whyOpenFailed;  // empty: nothing to add
  std::function<std::vector<CheckStep>()> afterOpen;
};

// The driver a program talks to, with its trace. Every program gets its
// driver from ChooseDriver, so a new driver is one class and one branch there.
class ChosenDriver {
 public:
  struct Parts;  // the driver itself, and what its branch knows of it

  explicit ChosenDriver(std::unique_ptr<Parts> parts);
  ~ChosenDriver();
  ChosenDriver(const ChosenDriver&) = delete;
  ChosenDriver& operator=(const ChosenDriver&) = delete;

  // What the program talks to: the chosen chip's driver, through the trace
  // when there is one.
  DriverLibrary& Library();
  // The same, for what it says of the chosen chip.
  SelectedChip& Selection();
  // The trace, for remarks; null without one.
  TraceDriver* Trace();
  // The simulated chip, whose parts a program may change; null otherwise.
  SimulatedChip* Chip();
  // What kind of driver it is, in a few words ("simulated chip"), for an
  // instrument's identity.
  const std::string& Name() const;

  // Binds the driver now (the vendor's library is otherwise bound at the
  // first open) and says how that went, in the trace too.
  DriverLoad Load();
  // Where a failed load of the vendor's library is reported when it happens
  // during a call; the other drivers never report one.
  void SetLoadFailureReport(std::function<void(std::string_view message)> report);
  // The driver's own lines for the bring-up check.
  const CheckNotes& Notes() const;

 private:
  std::unique_ptr<Parts> parts_;
};

// Builds the driver `options` ask for, its calls timed by `clock` in the
// trace. Null when the trace file cannot be written; `problem` says so.
std::unique_ptr<ChosenDriver> ChooseDriver(const DriverOptions& options, Clock& clock,
                                           std::string& problem);

}  // namespace capmeter
