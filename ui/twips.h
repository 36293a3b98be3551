#pragma once

#include <cmath>

namespace capmeter {

inline constexpr double kTwipsPerInch = 1440.0;

// Window geometry is laid out in twips; the screen's logical DPI turns it
// into pixels (15 twips to a pixel at 96 DPI).
inline int TwipsToPixels(int twips, double dotsPerInch) {
  return static_cast<int>(std::lround(twips * dotsPerInch / kTwipsPerInch));
}

}  // namespace capmeter
