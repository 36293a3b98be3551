#pragma once

#include <iosfwd>

#include "cli/command_context.h"

namespace capmeter::cli {

// Bring-up, one step at a time: load the driver library, open device 0,
// switch bit-bang mode on, drive the resting levels, read the pins once and
// judge them (D1 low while the timer is idle, D4 and D5 high as the wiring
// requires), then leave bit-bang mode and close. One verdict line per step;
// stops at the first failing step, though an opened device is always
// switched back and closed. kExitOk when every step passed, else kExitFailed.
//
// A driver that can tell more about the device adds its own lines around the
// open through `notes` (ChosenDriver::Notes).
int RunCheck(CommandContext& context, std::ostream& out, const CheckNotes& notes = {});

}  // namespace capmeter::cli
