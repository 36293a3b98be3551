// The accuracy report: the simulated circuit timed on the real monotonic
// clock, with the time-of-day clock held in single precision worked out from
// the same readings. Usage: capmeter-accuracy [latency in µs ...]
// (default 0 125 1000: none, a high-speed and a full-speed USB round trip).

#include <CLI/CLI.hpp>
#include <array>
#include <chrono>
#include <iostream>
#include <string>
#include <vector>

#include "bench/accuracy_row.h"
#include "bench/command_line.h"
#include "bench/report_table.h"
#include "bench/time_of_day_clock.h"
#include "measurement/clock.h"

namespace capmeter::bench {
namespace {

// Common part values for high times near 1, 10, 100 and 500 ms
// (T = 1.1 x R x C). None is a whole number of system ticks, which the
// tick would otherwise time exactly.
constexpr std::array<CircuitParts, 4> kCircuits = {{
    {9.1e3, 100e-9},  // 1.001 ms
    {91e3, 100e-9},   // 10.01 ms
    {91e3, 1e-6},     // 100.1 ms
    {100e3, 4.7e-6},  // 517 ms
}};
constexpr int kRuns = 20;

std::vector<Clock::Duration> Latencies(const std::vector<long>& micros) {
  std::vector<Clock::Duration> latencies;
  for (const long value : micros) latencies.push_back(std::chrono::microseconds(value));
  if (latencies.empty()) {
    latencies = {std::chrono::microseconds(0), std::chrono::microseconds(125),
                 std::chrono::milliseconds(1)};
  }
  return latencies;
}

int Report(const std::vector<Clock::Duration>& latencies) {
  using std::chrono::hours;
  using std::chrono::minutes;
  MonotonicClock clock;

  // The time of day is pinned to a reading taken now, so each measurement
  // falls at whatever phase of the tick the run brings it to.
  const Clock::Duration origin = clock.Now();
  std::array<TimeOfDayClock, kTimeOfDayModels> models{};
  models[kTickedMorning] = {hours(9) + minutes(30), origin, kSystemTick};
  models[kTickedEvening] = {hours(18) + minutes(30), origin, kSystemTick};
  models[kUntickedMorning] = {hours(9) + minutes(30), origin, {}};
  models[kUntickedEvening] = {hours(18) + minutes(30), origin, {}};

  // Warm the caches and the branch predictor before the first row counts.
  MeasureRow({kCircuits[0], {}, 5}, clock, models);

  const auto began = std::chrono::steady_clock::now();
  std::vector<RowResult> rows;
  for (const Clock::Duration latency : latencies) {
    for (const CircuitParts& parts : kCircuits) {
      rows.push_back(MeasureRow({parts, latency, kRuns}, clock, models));
      std::cerr << "." << std::flush;
    }
  }
  std::cerr << "\n";
  const double took =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();

  PrintConditions(std::cout, clock);
  std::cout << "Run took " << static_cast<int>(took + 0.5) << " s; old = the time-of-day clock "
            << "held in single precision with a 15.625 ms tick.\n\n";
  PrintTables(std::cout, rows);

  int faults = 0;
  for (const RowResult& row : rows) {
    faults += row.failed + row.unmatched;
  }
  if (faults > 0) {
    std::cout << "\n"
              << faults << " measurement(s) gave no time or a time the recorded "
              << "readings do not explain; their rows are incomplete.\n";
    return 1;
  }
  return 0;
}

}  // namespace
}  // namespace capmeter::bench

int main(int argc, char** argv) {
  // The text goes below the usage line, which help2man and people look for first.
  CLI::App app("", "capmeter-accuracy");
  app.footer(
      "Times the simulated timing circuit on the real clock, 20 measurements per row,\n"
      "and prints Markdown tables of the error against the circuit's true high time,\n"
      "beside the error of the old time-of-day clock. Takes about 40 s.");
  std::vector<long> micros;
  app.add_option("latency", micros,
                 "Simulated driver-call latencies in microseconds (default 0 125 1000)")
      ->check(CLI::Range(0L, 10'000'000L));
  if (const auto status = capmeter::bench::ParseCommandLine(app, argc, argv)) return *status;
  return capmeter::bench::Report(capmeter::bench::Latencies(micros));
}
