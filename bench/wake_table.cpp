#include "bench/wake_table.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <ostream>
#include <thread>
#include <vector>

namespace capmeter::bench {

namespace {

using Steady = std::chrono::steady_clock;

// Lateness in µs of `wakes` sleeps of `span`, sorted.
template <typename Sleep>
std::vector<double> Lateness(std::chrono::microseconds span, int wakes, Sleep sleep) {
  std::vector<double> late;
  late.reserve(static_cast<std::size_t>(wakes));
  for (int i = 0; i < wakes; ++i) {
    const Steady::time_point before = Steady::now();
    sleep(before, span);
    late.push_back(
        std::chrono::duration<double, std::micro>(Steady::now() - before - span).count());
  }
  std::sort(late.begin(), late.end());
  return late;
}

double Quantile(const std::vector<double>& sorted, double q) {
  const auto at = static_cast<std::size_t>(q * static_cast<double>(sorted.size() - 1) + 0.5);
  return sorted[at];
}

}  // namespace

void PrintWakeTable(std::ostream& out, int wakes) {
  constexpr std::array<double, 6> kQuantiles = {0.5, 0.9, 0.99, 0.999, 0.0, 1.0};
  out << "| sleep | span (µs) | wakes | lateness median / 90 % / 99 % / 99.9 % (µs) | least / "
         "most (µs) |\n|---|---:|---:|---:|---:|\n";
  for (const int micros : {100, 200, 500, 1000, 2000}) {
    const std::chrono::microseconds span(micros);
    const auto forSpan = [](Steady::time_point, std::chrono::microseconds s) {
      std::this_thread::sleep_for(s);
    };
    const auto untilEnd = [](Steady::time_point from, std::chrono::microseconds s) {
      std::this_thread::sleep_until(from + s);
    };
    for (const bool until : {false, true}) {
      const std::vector<double> late =
          until ? Lateness(span, wakes, untilEnd) : Lateness(span, wakes, forSpan);
      std::array<char, 160> row{};
      std::snprintf(row.data(), row.size(),
                    "| %s | %d | %d | %.0f / %.0f / %.0f / %.0f | %.0f / %.0f |\n",
                    until ? "sleep_until" : "sleep_for", micros, wakes,
                    Quantile(late, kQuantiles[0]), Quantile(late, kQuantiles[1]),
                    Quantile(late, kQuantiles[2]), Quantile(late, kQuantiles[3]),
                    Quantile(late, kQuantiles[4]), Quantile(late, kQuantiles[5]));
      out << row.data();
    }
  }
}

}  // namespace capmeter::bench
