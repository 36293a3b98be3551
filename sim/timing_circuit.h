#pragma once

#include <cstdint>
#include <optional>

#include "measurement/clock.h"

namespace capmeter {

struct CircuitParts {
  double resistanceOhms = 100e3;
  double capacitanceFarads = 4.7e-6;
  // The wiring's and the timer's own capacitance, in parallel with the part.
  double strayFarads = 0.0;
};

// The external monostable timer wired to the chip: while D2 is low it is held
// reset and D1 is low; while D2 is high, D0 going low triggers it and D1 stays
// high for T = 1.1 x R x (C + stray) from that moment, and for as long as D0 is held
// low: the 555's data sheet, its output stays high while its trigger input
// is below a third of the supply.
class TimingCircuit {
 public:
  explicit TimingCircuit(CircuitParts parts = {}) : parts_(parts) {}

  void SetParts(CircuitParts parts) { parts_ = parts; }
  const CircuitParts& Parts() const { return parts_; }
  Clock::Duration HighTime() const;

  // The levels on the circuit's inputs changed to `pins` at time `now`.
  void Drive(std::uint8_t pins, Clock::Duration now);
  // The level of the circuit's output D1 at time `now`.
  bool D1High(Clock::Duration now) const;

 private:
  CircuitParts parts_;
  bool d0High_ = true;
  bool d2High_ = false;
  std::optional<Clock::Duration> highUntil_;
};

}  // namespace capmeter
