#include <benchmark/benchmark.h>

#include <cstdint>

#include "measurement/pin_text.h"

namespace capmeter::bench {
namespace {

// One pass of the poll loop without the driver call: parse the pin text and
// test bit 1, for one read-back character: '7' while D1 is high (the pass
// that repeats), '5' once it is low.
void BM_PollPass(benchmark::State& state, char readBack) {
  PinBuffer strPins{};
  strPins[0] = readBack;
  for (auto _ : state) {
    // The buffer may have changed behind the compiler's back, as it does when
    // the driver writes into it, so every pass really reads and parses it.
    benchmark::DoNotOptimize(strPins);
    const auto pinValue = ParsePinText(strPins);
    bool goesOn = pinValue && ChargeGoesOn(*pinValue);
    benchmark::DoNotOptimize(goesOn);
  }
}
BENCHMARK_CAPTURE(BM_PollPass, d1_high, '7');
BENCHMARK_CAPTURE(BM_PollPass, d1_low, '5');

// The same pass with the character changing every time, over all ten digits
// and one garbled byte, so the branch predictor cannot learn the answer.
void BM_PollPassMixed(benchmark::State& state) {
  constexpr char kReadBack[] = "0123456789?";
  constexpr std::uint32_t kCount = sizeof(kReadBack) - 1;
  PinBuffer strPins{};
  std::uint32_t next = 0;
  for (auto _ : state) {
    strPins[0] = kReadBack[next];
    next = next + 1 == kCount ? 0 : next + 1;
    benchmark::DoNotOptimize(strPins);
    const auto pinValue = ParsePinText(strPins);
    bool goesOn = pinValue && ChargeGoesOn(*pinValue);
    benchmark::DoNotOptimize(goesOn);
  }
}
BENCHMARK(BM_PollPassMixed);

}  // namespace
}  // namespace capmeter::bench
