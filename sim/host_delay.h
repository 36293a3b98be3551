#pragma once

#include <array>
#include <chrono>
#include <random>

namespace capmeter {

// How late a busy host hands over data that has landed: the lateness of a
// thread's wake-up after a 2 ms sleep, 5000 wake-ups measured on the
// project's 2-core machine on 2026-12-09 with two busy loops beside it
// (docs/performance.md, "The sample rate"). Quantile and lateness in µs.
struct DelayQuantile {
  double quantile;
  double microseconds;
};
inline constexpr std::array<DelayQuantile, 10> kLoadedHostDelay = {{{0.0, 50},
                                                                    {0.1, 66},
                                                                    {0.25, 68},
                                                                    {0.5, 70},
                                                                    {0.75, 77},
                                                                    {0.9, 89},
                                                                    {0.95, 98},
                                                                    {0.99, 1180},
                                                                    {0.999, 4342},
                                                                    {1.0, 7961}}};

// Draws delays from such a table, the same sequence for the same seed.
class HostDelay {
 public:
  explicit HostDelay(std::uint32_t seed = 20261209) : source_(seed) {}

  std::chrono::nanoseconds Next() {
    const double u = std::uniform_real_distribution<double>(0.0, 1.0)(source_);
    for (std::size_t i = 1; i < kLoadedHostDelay.size(); ++i) {
      const DelayQuantile& low = kLoadedHostDelay[i - 1];
      const DelayQuantile& high = kLoadedHostDelay[i];
      if (u <= high.quantile) {
        const double part = (u - low.quantile) / (high.quantile - low.quantile);
        const double us = low.microseconds + part * (high.microseconds - low.microseconds);
        return std::chrono::nanoseconds(static_cast<long long>(us * 1e3));
      }
    }
    return std::chrono::nanoseconds(
        static_cast<long long>(kLoadedHostDelay.back().microseconds * 1e3));
  }

 private:
  std::minstd_rand source_;
};

}  // namespace capmeter
