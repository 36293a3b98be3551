// capmeter-bench: the Google Benchmark figures, with the project's --help
// and --version in front of Google Benchmark's own --benchmark_* flags.

#include <benchmark/benchmark.h>

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "bench/command_line.h"

int main(int argc, char** argv) {
  CLI::App app("", "capmeter-bench");
  app.footer(
      "Times one pass of the poll loop, one whole measurement on the simulated chip\n"
      "on virtual time, the two result texts, and capmeter-cli serve's round trips\n"
      "(*IDN?, MEAS:CAP?) over loopback. Google Benchmark's options pass\n"
      "through, e.g. --benchmark_filter=REGEX, --benchmark_repetitions=N,\n"
      "--benchmark_format=console|json|csv, --benchmark_list_tests.");
  // Google Benchmark's flags are all --benchmark_*; the rest are ours.
  app.allow_extras();
  if (const auto status = capmeter::bench::ParseCommandLine(app, argc, argv)) return *status;
  std::vector<std::string> extras = app.remaining();
  for (const std::string& extra : extras) {
    if (extra.rfind("--benchmark_", 0) != 0) {
      std::cerr << "capmeter-bench: The following argument was not expected: " << extra
                << "\nTry 'capmeter-bench --help' for more information.\n";
      return 2;
    }
  }

  std::vector<char*> benchmarkArgs{argv[0]};
  for (std::string& extra : extras) benchmarkArgs.push_back(extra.data());
  int benchmarkArgc = static_cast<int>(benchmarkArgs.size());
  benchmark::Initialize(&benchmarkArgc, benchmarkArgs.data());
  if (benchmark::ReportUnrecognizedArguments(benchmarkArgc, benchmarkArgs.data())) return 2;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
