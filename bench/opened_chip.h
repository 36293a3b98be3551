#pragma once

#include "device/device_link.h"
#include "measurement/measure.h"
#include "sim/simulated_chip.h"
#include "ui/display.h"

namespace capmeter::bench {

// The simulated chip with device 0 opened as the window opens it, for one
// row of figures; closed again at the end of the row.
struct OpenedChip {
  OpenedChip(Clock& clock, const CircuitParts& parts, Clock::Duration latency)
      : chip(clock, parts) {
    chip.SetCallLatency(latency);
    OpenLink(link, chip, display);
  }
  ~OpenedChip() { CloseLink(link, chip, display); }
  OpenedChip(const OpenedChip&) = delete;
  OpenedChip& operator=(const OpenedChip&) = delete;

  MeasureResult Measure(Clock& clock, MeasurePolicy* policy = nullptr) {
    return capmeter::Measure(link.lngHandle, chip, display, clock, policy);
  }

  SimulatedChip chip;
  NullDisplay display;
  DeviceLink link;
};

}  // namespace capmeter::bench
