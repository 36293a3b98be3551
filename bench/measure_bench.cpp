#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>

#include "device/device_link.h"
#include "measurement/measure.h"
#include "sim/simulated_chip.h"
#include "sim/virtual_clock.h"
#include "ui/display.h"

namespace capmeter::bench {
namespace {

// Parts for a high time of `highTime`: 1.1 x R x C with R fixed at 100 kOhm.
CircuitParts PartsFor(std::chrono::microseconds highTime) {
  constexpr double kOhms = 100e3;
  const double seconds = std::chrono::duration<double>(highTime).count();
  return {kOhms, seconds / (1.1 * kOhms)};
}

// One whole measurement on the simulated chip on virtual time: the clock only
// moves by the per-call latency, so the figure is the program's own cost of
// the set-up, the trigger and every poll. Arguments: high time and latency in
// microseconds; polls per measurement come out as about T / latency.
void BM_Measure(benchmark::State& state) {
  VirtualClock clock;
  SimulatedChip chip(clock, PartsFor(std::chrono::microseconds(state.range(0))));
  chip.SetCallLatency(std::chrono::microseconds(state.range(1)));
  NullDisplay display;
  DeviceLink link;
  OpenLink(link, chip, display);

  std::uint64_t polls = 0;
  for (auto _ : state) {
    MeasureResult result = Measure(link.lngHandle, chip, display, clock);
    benchmark::DoNotOptimize(result);
    polls += result.polls;
  }
  if (state.iterations() > 0) {
    state.counters["polls"] = static_cast<double>(polls) / static_cast<double>(state.iterations());
  }
  // Wall time per poll, driver simulation included.
  state.counters["per_poll"] = benchmark::Counter(
      static_cast<double>(polls), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_Measure)
    ->ArgNames({"T_us", "latency_us"})
    ->Args({1'000, 125})
    ->Args({10'000, 125})
    ->Args({100'000, 125})
    ->Args({517'000, 1'000})
    ->Args({10'000, 1});

}  // namespace
}  // namespace capmeter::bench
