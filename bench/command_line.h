#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace CLI {
class App;
}  // namespace CLI

namespace capmeter::bench {

// Reads the command line with `app` (which gets -v/--version here). Help or
// version go to standard output (status 0), an error to standard error in two
// short lines (status 2); nothing comes back when the program should run.
std::optional<int> ParseCommandLine(CLI::App& app, int argc, char** argv);

}  // namespace capmeter::bench
