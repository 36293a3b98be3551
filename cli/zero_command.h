#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>

#include "cli/command_context.h"
#include "measurement/stream_timing.h"

namespace capmeter::cli {

struct ZeroOptions {
  int count = 10;  // open-circuit readings
  bool dither = false;
  std::uint64_t seed = 0;
  Timing timing = Timing::Poll;
  SampleClock sampleClock;
  std::string label;   // of the stored line the zero goes with
  bool clear = false;  // takes the stored zero away instead
};

// Has the capacitor taken off the circuit, the wiring left as it is: asks the
// user or sets the simulated part. False when nobody answered.
using DisconnectStep = std::function<bool()>;

// `zero`: reads the circuit with nothing connected and keeps the mean, its
// stray capacitance through the chip's stored line, with that line, so that
// later readings take it out. kExitFailed when there is no stored line for
// the chip and timing, the device could not be used, a reading gave no time
// or was below the range (nothing to zero), or the file could not be
// written; 128 + the signal's number when stopped.
int RunZero(CommandContext& context, const ZeroOptions& options, const DisconnectStep& disconnect,
            std::ostream& out, std::ostream& err);

}  // namespace capmeter::cli
