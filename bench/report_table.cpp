#include "bench/report_table.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "bench/error_summary.h"

namespace capmeter::bench {

namespace {

std::string Fixed(double value, int decimals) {
  char text[48];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

double Micro(double seconds) {
  return seconds * 1e6;
}

double Milli(double seconds) {
  return seconds * 1e3;
}

std::string Micro(Clock::Duration span) {
  return Fixed(std::chrono::duration<double, std::micro>(span).count(), 0);
}

std::string Ratio(double theirs, double ours) {
  if (ours <= 0.0) {
    return theirs <= 0.0 ? "–" : "∞";
  }
  const double ratio = theirs / ours;
  return Fixed(ratio, ratio < 10.0 ? 1 : 0);
}

std::string MedianAndWorstMs(const ErrorSummary& errors) {
  return Fixed(Milli(errors.medianAbs), 3) + " / " + Fixed(Milli(errors.worstAbs), 3);
}

// Median cost of one reading, from back-to-back pairs.
Clock::Duration ReadingCost(Clock& clock) {
  std::vector<double> costs;
  for (int i = 0; i < 1001; ++i) {
    const auto first = clock.Now();
    const auto second = clock.Now();
    costs.push_back(std::chrono::duration<double, std::nano>(second - first).count());
  }
  return std::chrono::nanoseconds(static_cast<long long>(Median(costs)));
}

std::string LoadAverage() {
  std::ifstream file("/proc/loadavg");
  double one = 0.0;
  double five = 0.0;
  if (!(file >> one >> five)) {
    return "unknown";
  }
  return Fixed(one, 2) + " (1 min), " + Fixed(five, 2) + " (5 min)";
}

// The compiler that built the report, in its own words where it has them.
std::string CompilerText() {
#if defined(__clang__)
  return "clang " __clang_version__;
#elif defined(__GNUC__)
  return "gcc " __VERSION__;
#elif defined(_MSC_VER)
  return "MSVC " + std::to_string(_MSC_FULL_VER);
#else
  return "unknown";
#endif
}

}  // namespace

void PrintConditions(std::ostream& out, Clock& clock) {
  using Period = std::chrono::steady_clock::period;
  const double periodNs = 1e9 * Period::num / static_cast<double>(Period::den);
  out << "Conditions: " << std::thread::hardware_concurrency() << " hardware threads; "
      << "steady_clock period " << Fixed(periodNs, periodNs < 10 ? 0 : 1) << " ns, one reading "
      << std::chrono::nanoseconds(ReadingCost(clock)).count() << " ns; load average "
      << LoadAverage() << "; compiler " << CompilerText()
#ifdef NDEBUG
      << ", optimised"
#else
      << ", unoptimised asserts on"
#endif
      << ".\n";
}

void PrintTables(std::ostream& out, std::span<const RowResult> rows) {
  out << "| T (ms) | latency (µs) | runs | polls / meas. | poll period (µs) "
         "| median t − T (µs) | median \\|t − T\\| (µs) | worst \\|t − T\\| (µs) "
         "| old 09:30 median / worst \\|error\\| (ms) | old 18:30 median / worst \\|error\\| (ms) "
         "| old / ours, medians 09:30 / 18:30 | old / ours, worsts 09:30 / 18:30 |\n"
      << "|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n";
  for (const RowResult& row : rows) {
    const ErrorSummary& morning = row.timeOfDay[kTickedMorning];
    const ErrorSummary& evening = row.timeOfDay[kTickedEvening];
    out << "| " << Fixed(std::chrono::duration<double, std::milli>(row.highTime).count(), 3)
        << " | " << Micro(row.latency) << " | " << row.timed << " | " << Fixed(row.meanPolls, 0)
        << " | " << Fixed(Micro(row.meanPollPeriod), 3) << " | "
        << Fixed(Micro(row.ours.medianSigned), 1) << " | " << Fixed(Micro(row.ours.medianAbs), 1)
        << " | " << Fixed(Micro(row.ours.worstAbs), 1) << " | " << MedianAndWorstMs(morning)
        << " | " << MedianAndWorstMs(evening) << " | "
        << Ratio(morning.medianAbs, row.ours.medianAbs) << " / "
        << Ratio(evening.medianAbs, row.ours.medianAbs) << " | "
        << Ratio(morning.worstAbs, row.ours.worstAbs) << " / "
        << Ratio(evening.worstAbs, row.ours.worstAbs) << " |\n";
  }

  out << "\nSingle precision alone (the same readings, no tick):\n\n"
      << "| T (ms) | latency (µs) | 09:30 median / worst \\|error\\| (ms) "
         "| 18:30 median / worst \\|error\\| (ms) |\n"
      << "|---:|---:|---:|---:|\n";
  for (const RowResult& row : rows) {
    out << "| " << Fixed(std::chrono::duration<double, std::milli>(row.highTime).count(), 3)
        << " | " << Micro(row.latency) << " | " << MedianAndWorstMs(row.timeOfDay[kUntickedMorning])
        << " | " << MedianAndWorstMs(row.timeOfDay[kUntickedEvening]) << " |\n";
  }
}

}  // namespace capmeter::bench
