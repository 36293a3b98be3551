#pragma once

#include <cstdint>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/command_context.h"
#include "sim/simulated_chip.h"
#include "sim/virtual_clock.h"
#include "tests/support/event_log.h"
#include "tests/support/forwarding_driver.h"
#include "tests/support/recording_driver.h"

namespace capmeter::testing {

// Bends the pin byte of every successful read, as a wire pulled up or down
// from outside would: the pins in `mask` read `levels`. A hook sees each read
// first, so a test can act after a given number of them.
class ForcedPins final : public ForwardingDriver {
 public:
  explicit ForcedPins(DriverLibrary& inner) : ForwardingDriver(inner) {}

  FT_STATUS FT_SetBitMode(FT_HANDLE handle, std::uint8_t mask, std::uint8_t enable) override {
    setUps += enable != 0 ? 1 : 0;
    return inner_.FT_SetBitMode(handle, mask, enable);
  }
  SampleStream* SampleStreaming() override {
    return streams ? ForwardingDriver::SampleStreaming() : nullptr;
  }
  FT_STATUS FT_GetBitMode(FT_HANDLE handle, std::uint8_t* pins) override {
    ++reads;
    if (onRead) onRead(reads);
    const FT_STATUS status = inner_.FT_GetBitMode(handle, pins);
    if (status == kStatusOk) {
      *pins = static_cast<std::uint8_t>((*pins & ~mask) | (levels & mask));
    }
    return status;
  }
  std::uint8_t mask = 0;
  std::uint8_t levels = 0;
  std::uint64_t reads = 0;
  std::uint64_t setUps = 0;  // bit-bang mode switched on: one per measurement
  bool streams = true;       // false: a driver that cannot stream the pins
  std::function<void(std::uint64_t reads)> onRead;
};

// The simulated chip and timing circuit on virtual time, with the pins'
// wiring bendable and every call but the reads recorded, as the command-line
// meter sees them.
struct SimMeter {
  explicit SimMeter(CircuitParts parts = {},
                    Clock::Duration latency = std::chrono::microseconds(100))
      : chip(clock, parts) {
    chip.SetCallLatency(latency);
  }

  cli::CommandContext& Get() { return context; }
  // A stop signal arrives after `reads` reads of the pins.
  void StopAfterReads(std::uint64_t reads, int signal) {
    pins.onRead = [this, reads, signal](std::uint64_t n) {
      if (n >= reads) stopSignal = signal;
    };
  }
  // The recorded calls whose text starts with `prefix`.
  std::vector<std::string> Calls(const std::string& prefix) const {
    std::vector<std::string> calls;
    for (const std::string& entry : log) {
      if (entry.rfind(prefix, 0) == 0) calls.push_back(entry);
    }
    return calls;
  }

  VirtualClock clock;
  SimulatedChip chip;
  ForcedPins pins{chip};
  EventLog log;
  RecordingDriver driver{pins, log};
  int stopSignal = 0;
  cli::CommandContext context{
      [] {
        return DriverLoad{true, "the simulated chip"};
      },
      driver,
      clock,
      {[this] { return stopSignal; }, {}},
  };
};

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace capmeter::testing
