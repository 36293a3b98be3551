#include "bench/dither_table.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "bench/error_summary.h"
#include "bench/opened_chip.h"
#include "bench/reading_recorder.h"
#include "measurement/dither.h"
#include "measurement/measure.h"

namespace capmeter::bench {

namespace {

double Seconds(Clock::Duration span) {
  return std::chrono::duration<double>(span).count();
}

// Median |mean of each block of `n` values - goal|. Fewer than `n` values
// (some were left out) make one shorter block; none give NaN.
double BlockError(const std::vector<double>& values, int n, double goal) {
  if (values.empty()) {
    return std::nan("");
  }
  if (values.size() < static_cast<std::size_t>(n)) {
    n = static_cast<int>(values.size());
  }
  std::vector<double> errors;
  for (std::size_t begin = 0; begin + static_cast<std::size_t>(n) <= values.size();
       begin += static_cast<std::size_t>(n)) {
    double sum = 0.0;
    for (int i = 0; i < n; ++i) sum += values[begin + static_cast<std::size_t>(i)];
    errors.push_back(std::fabs(sum / n - goal));
  }
  return Median(errors);
}

std::string Micro(double seconds) {
  if (std::isnan(seconds)) {
    return "–";
  }
  char text[32];
  const double micros = seconds * 1e6;
  std::snprintf(text, sizeof text, "%.*f", std::fabs(micros) < 100 ? 1 : 0, micros);
  return text;
}

std::string Fixed1(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", seconds * 1e6);
  return text;
}

}  // namespace

DitherRow MeasureDitherRow(const DitherSetup& setup, Clock& clock, const TimeOfDayClock& old) {
  OpenedChip opened(clock, setup.parts, setup.latency);
  ReadingRecorder recorder(clock);

  DitherRow row;
  row.highTime = opened.chip.Circuit().HighTime();
  row.latency = setup.latency;
  row.pollPeriod = MeasurePollPeriod(opened.link.lngHandle, opened.chip, clock);
  const double T = Seconds(row.highTime);
  const double P = Seconds(row.pollPeriod);
  const auto keep = [&](const MeasureResult& result) {
    if (!result.HasTime()) {
      ++row.failed;
      return false;
    }
    if (std::fabs(result.seconds - T) > 2 * P) {
      ++row.disturbed;
      return false;
    }
    return true;
  };

  std::vector<double> plain;
  std::vector<double> oldTimes;
  for (int i = 0; i < setup.readings; ++i) {
    recorder.Reset();
    const MeasureResult result = opened.Measure(recorder);
    if (keep(result)) {
      plain.push_back(result.seconds);
      oldTimes.push_back(old.Elapsed(recorder.First(), recorder.Last()));
    }
  }

  DitherPolicy dither(DitherSequence(row.pollPeriod, setup.seed));
  std::vector<double> dithered;
  for (int i = 0; i < setup.readings; ++i) {
    const MeasureResult result = opened.Measure(clock, &dither);
    if (keep(result)) {
      dithered.push_back(result.seconds);
    }
  }

  for (std::size_t k = 0; k < kMeanOf.size(); ++k) {
    row.plain[k] = BlockError(plain, kMeanOf[k], T);
    row.dithered[k] = BlockError(dithered, kMeanOf[k], T);
    row.ditheredLessLean[k] = BlockError(dithered, kMeanOf[k], T - P / 2);
    row.old[k] = BlockError(oldTimes, kMeanOf[k], T);
  }
  return row;
}

void PrintDitherTable(std::ostream& out, std::span<const DitherRow> rows) {
  out << "| latency (µs) | T (ms) | poll period P (µs) "
         "| plain, N = 1 / 10 / 100 (µs) | dithered, N = 1 / 10 / 100 (µs) "
         "| dithered + P/2, N = 1 / 10 / 100 (µs) | old clock 09:30, N = 1 / 10 / 100 (µs) "
         "| left out |\n"
      << "|---:|---:|---:|---:|---:|---:|---:|---:|\n";
  const auto triple = [](const auto& errors) {
    return Micro(errors[0]) + " / " + Micro(errors[1]) + " / " + Micro(errors[2]);
  };
  for (const DitherRow& row : rows) {
    char highTime[32];
    std::snprintf(highTime, sizeof highTime, "%.3f",
                  std::chrono::duration<double, std::milli>(row.highTime).count());
    out << "| " << Micro(Seconds(row.latency)) << " | " << highTime << " | "
        << Fixed1(Seconds(row.pollPeriod)) << " | " << triple(row.plain) << " | "
        << triple(row.dithered) << " | " << triple(row.ditheredLessLean) << " | " << triple(row.old)
        << " | " << row.disturbed << " |\n";
  }
}

}  // namespace capmeter::bench
