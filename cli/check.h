#pragma once

#include <iosfwd>
#include <optional>

#include "cli/command_context.h"
#include "measurement/stream_timing.h"

namespace capmeter::cli {

// What check's stream step streams at, and whether its verdict counts: only
// with stream timing chosen, since polling does not need the stream.
struct CheckOptions {
  Timing timing = Timing::Poll;
  SampleClock sampleClock;  // the rate asked for; it is measured
};

// Bring-up, one step at a time: load the driver library, open device 0,
// switch bit-bang mode on, drive the resting levels, read the pins once and
// judge them (D1 low while the timer is idle, D4 and D5 high as the wiring
// requires), with `stream` the stream step, then leave bit-bang mode and
// close. One verdict line per step; stops at the first failing step, though
// an opened device is always switched back and closed. kExitOk when every
// step passed, else kExitFailed; 128 + the signal's number when stopped.
//
// The stream step, when the driver can stream: the sample rate measured for
// a second, 20 streamed readings of the connected part, and whether their
// spread allows the stream to be trusted for timing. A step of it that fails
// is marked "note", not "FAIL", unless `stream` has stream timing.
//
// A driver that can tell more about the device adds its own lines around the
// open through `notes` (ChosenDriver::Notes).
int RunCheck(CommandContext& context, std::ostream& out, const CheckNotes& notes = {},
             const std::optional<CheckOptions>& stream = std::nullopt);

}  // namespace capmeter::cli
