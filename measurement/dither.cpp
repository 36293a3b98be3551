#include "measurement/dither.h"

#include <chrono>
#include <cmath>
#include <random>

namespace capmeter {

namespace {

// (sqrt(5) - 1) / 2: the step whose multiples stay the most evenly spread.
constexpr double kGoldenFraction = 0.6180339887498949;

}  // namespace

DitherSequence::DitherSequence(Clock::Duration pollPeriod, std::uint64_t seed)
    : pollPeriod_(pollPeriod) {
  std::mt19937_64 random(seed);
  fraction_ = std::uniform_real_distribution<double>(0.0, 1.0)(random);
}

Clock::Duration DitherSequence::Next() {
  const double fraction = fraction_;
  fraction_ += kGoldenFraction;
  if (fraction_ >= 1.0) {
    fraction_ -= 1.0;
  }
  return std::chrono::duration_cast<Clock::Duration>(
      std::chrono::duration<double, Clock::Duration::period>(
          fraction * static_cast<double>(pollPeriod_.count())));
}

Clock::Duration MeasurePollPeriod(FT_HANDLE lngHandle, DriverLibrary& library, Clock& clock,
                                  int reads) {
  if (reads <= 0) {
    return Clock::Duration::zero();
  }
  std::uint8_t pins = 0;
  const Clock::Duration start = clock.Now();
  for (int i = 0; i < reads; ++i) {
    library.FT_GetBitMode(lngHandle, &pins);
  }
  return (clock.Now() - start) / reads;
}

}  // namespace capmeter
