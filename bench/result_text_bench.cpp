#include <benchmark/benchmark.h>

#include <array>
#include <cstdio>
#include <string>

#include "measurement/result_text.h"

namespace capmeter::bench {
namespace {

// Charge times as the meter sees them: a typical one, a short one with a
// long fraction, one that needs exponent form, zero and a long time-out.
constexpr std::array<float, 5> kSeconds = {0.517F, 0.001001F, 3.0e-8F, 0.0F, 12345.67F};
// Capacitances: typical, one with all six decimals, below one, negative,
// and one past the two integer places of the pattern.
constexpr std::array<double, 5> kMicrofarads = {4.7, 12.345678, 0.000001, -3.5, 1234.5};

// The value as the bench's label, short and exact enough to tell them apart.
std::string Label(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

void BM_GeneralText(benchmark::State& state) {
  float seconds = kSeconds.at(static_cast<std::size_t>(state.range(0)));
  state.SetLabel(Label(seconds));
  for (auto _ : state) {
    benchmark::DoNotOptimize(seconds);
    std::string text = GeneralText(seconds, ",");
    benchmark::DoNotOptimize(text);
  }
}
BENCHMARK(BM_GeneralText)->DenseRange(0, kSeconds.size() - 1);

void BM_PatternText(benchmark::State& state) {
  double microfarads = kMicrofarads.at(static_cast<std::size_t>(state.range(0)));
  state.SetLabel(Label(microfarads));
  for (auto _ : state) {
    benchmark::DoNotOptimize(microfarads);
    std::string text = PatternText(microfarads, ",");
    benchmark::DoNotOptimize(text);
  }
}
BENCHMARK(BM_PatternText)->DenseRange(0, kMicrofarads.size() - 1);

}  // namespace
}  // namespace capmeter::bench
