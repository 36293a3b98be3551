#include "bench/command_line.h"

#include <CLI/CLI.hpp>
#include <iostream>

#include "capmeter_version.h"

namespace capmeter::bench {

std::optional<int> ParseCommandLine(CLI::App& app, int argc, char** argv) {
  app.set_version_flag("-v,--version", VersionText(app.get_name()), "Show the version and exit");
  app.set_help_flag("-h,--help", "Show this help and exit");
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& help) {
    return app.exit(help);
  } catch (const CLI::CallForVersion& version) {
    return app.exit(version);
  } catch (const CLI::ParseError& error) {
    std::cerr << app.get_name() << ": " << error.what() << "\nTry '" << app.get_name()
              << " --help' for more information.\n";
    return 2;
  }
  return std::nullopt;
}

}  // namespace capmeter::bench
