// The accuracy report: the simulated circuit timed on the real monotonic
// clock, with the time-of-day clock held in single precision worked out from
// the same readings. Usage: capmeter-accuracy [latency in µs ...]
// (default 0 125 1000: none, a high-speed and a full-speed USB round trip).
// With --dither it prints the means of 1, 10 and 100 readings with and
// without dither instead (default latencies 1000 125).

#include <CLI/CLI.hpp>
#include <array>
#include <chrono>
#include <cstdint>
#include <iostream>
#include <string>
#include <vector>

#include "bench/accuracy_row.h"
#include "bench/command_line.h"
#include "bench/dither_table.h"
#include "bench/rate_table.h"
#include "bench/report_table.h"
#include "bench/stream_table.h"
#include "bench/time_of_day_clock.h"
#include "bench/wake_table.h"
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

std::vector<Clock::Duration> Latencies(const std::vector<long>& micros,
                                       std::vector<Clock::Duration> defaults) {
  std::vector<Clock::Duration> latencies;
  for (const long value : micros) latencies.push_back(std::chrono::microseconds(value));
  return latencies.empty() ? defaults : latencies;
}

// Readings per row of the dither table: enough for one mean of 100.
constexpr int kDitherReadings = 100;

int DitherReport(const std::vector<Clock::Duration>& latencies) {
  using std::chrono::hours;
  using std::chrono::minutes;
  MonotonicClock clock;
  const TimeOfDayClock old{hours(9) + minutes(30), clock.Now(), kSystemTick};

  MeasureDitherRow({kCircuits[0], {}, 5, 1}, clock, old);  // warm-up

  const auto began = std::chrono::steady_clock::now();
  std::vector<DitherRow> rows;
  std::uint64_t seed = 1;
  for (const Clock::Duration latency : latencies) {
    for (const CircuitParts& parts : kCircuits) {
      rows.push_back(MeasureDitherRow({parts, latency, kDitherReadings, seed++}, clock, old));
      std::cerr << "." << std::flush;
    }
  }
  std::cerr << "\n";
  const double took =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();

  PrintConditions(std::cout, clock);
  std::cout << "Run took " << static_cast<int>(took + 0.5) << " s; " << kDitherReadings
            << " readings without and " << kDitherReadings
            << " with dither per row; each figure is the median |mean of N readings − T| over "
               "the readings cut into blocks of N.\n\n";
  PrintDitherTable(std::cout, rows);

  int failed = 0;
  for (const DitherRow& row : rows) failed += row.failed;
  if (failed > 0) {
    std::cout << "\n" << failed << " reading(s) gave no time; their rows are incomplete.\n";
    return 1;
  }
  return 0;
}

// T = 0.11, 1.1, 10.01 and 517 ms.
constexpr std::array<CircuitParts, 4> kStreamCircuits = {{
    {1e3, 100e-9},
    {10e3, 100e-9},
    {91e3, 100e-9},
    {100e3, 4.7e-6},
}};

int StreamReport(const std::vector<Clock::Duration>& latencies) {
  MonotonicClock clock;
  const auto began = std::chrono::steady_clock::now();
  std::vector<StreamRow> rows;
  for (const double jitter : {0.0, 0.05}) {
    for (const Clock::Duration latency : latencies) {
      for (const CircuitParts& parts : kStreamCircuits) {
        rows.push_back(MeasureStreamRow({parts, latency, jitter, 10}, clock));
        std::cerr << "." << std::flush;
      }
    }
  }
  std::cerr << "\n";
  const double took =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  PrintConditions(std::cout, clock);
  std::cout << "Run took " << static_cast<int>(took + 0.5)
            << " s; 10 streamed and 10 polled readings per row at 1 MS/s.\n\n";
  PrintStreamTable(std::cout, rows);
  int failed = 0;
  for (const StreamRow& row : rows) failed += row.failed;
  if (failed > 0) {
    std::cout << "\n" << failed << " reading(s) gave no time; their rows are incomplete.\n";
    return 1;
  }
  return 0;
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

int RateReport() {
  MonotonicClock clock;
  std::vector<RateRow> rows;
  for (const std::uint16_t bcdDevice : {0x0900, 0x1000}) {
    for (const bool arrivals : {true, false}) {
      rows.push_back(MeasureRateRow({bcdDevice, arrivals, 20}, clock));
    }
  }
  PrintRateTable(std::cout, rows);
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
  bool dither = false;
  app.add_option("latency", micros,
                 "Simulated driver-call latencies in microseconds (default 0 125 1000; "
                 "with --dither 1000 125)")
      ->check(CLI::Range(0L, 10'000'000L));
  app.add_flag("--dither", dither,
               "Instead, the error of the mean of 1, 10 and 100 readings with and without "
               "dither, 100 readings each way per row (about 4 minutes)");
  bool stream = false;
  app.add_flag("--stream", stream,
               "Instead, streamed readings (timed by the simulated chip's sample clock) beside "
               "polled ones, with the clock steady and with 5 % jitter (about 1 minute)");
  bool rate = false;
  app.add_flag("--rate", rate,
               "Instead, the simulated chip's sample rate measured 20 times per row, its "
               "transfers handed over as a busy host does, fitted at its arrival times and at "
               "the looks that found samples (about 2 minutes)");
  bool wake = false;
  app.add_flag("--wake", wake,
               "Instead, how late a sleeping thread wakes: 2000 sleeps of each span from 100 µs "
               "to 2 ms, the lateness in quantiles (about 20 s)");
  if (const auto status = capmeter::bench::ParseCommandLine(app, argc, argv)) return *status;
  if (rate) return capmeter::bench::RateReport();
  if (wake) {
    capmeter::bench::PrintWakeTable(std::cout, 2000);
    return 0;
  }
  using std::chrono::microseconds;
  if (dither) {
    return capmeter::bench::DitherReport(
        capmeter::bench::Latencies(micros, {microseconds(1000), microseconds(125)}));
  }
  if (stream) {
    return capmeter::bench::StreamReport(capmeter::bench::Latencies(
        micros, {microseconds(0), microseconds(125), microseconds(1000)}));
  }
  return capmeter::bench::Report(
      capmeter::bench::Latencies(micros, {microseconds(0), microseconds(125), microseconds(1000)}));
}
