#pragma once

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

#include "scpi/commands.h"
#include "scpi/status.h"

namespace capmeter::scpi {

// One command of a message, its header matched against the command table and
// its parameter read: MIN, MAX and DEF resolved, the suffix's multiplier
// applied, the range checked; or a word of the row's choices.
struct ProgramUnit {
  Command command;
  std::optional<double> number;
  std::optional<std::size_t> choice;  // its index among the row's choices
};

// A message: the commands up to the first mistake, and that mistake. The
// rest of a message after a mistake is not read, as SCPI has it.
struct ParsedMessage {
  std::vector<ProgramUnit> units;
  std::optional<Error> error;
};

// Reads one message (a line without its LF; a CR before it is allowed):
// commands separated by ';', each header relative to the path of the one
// before unless it starts with ':', common commands ('*') anywhere.
ParsedMessage ParseMessage(std::string_view line);

}  // namespace capmeter::scpi
