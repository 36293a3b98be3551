#pragma once

#include <iosfwd>
#include <string>

#include "cli/command_context.h"

namespace capmeter::cli {

// How `list` writes the chips: for people, or as data.
enum class ListFormat { Table, Csv, Json };

// `list`: one line (CSV row, JSON object) per chip the driver sees: its index
// (what --device takes), serial number (what --serial takes), description,
// location and whether it is open already. kExitOk when it found any;
// kExitFailed with a sentence on `err` when it found none, the driver
// cannot list or the output could not be written.
int RunList(CommandContext& context, ListFormat format, std::ostream& out, std::ostream& err);

}  // namespace capmeter::cli
