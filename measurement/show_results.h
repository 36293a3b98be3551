#pragma once

#include <string_view>

#include "ui/display.h"

namespace capmeter {

// Shows the charge time in lblTime and the capacitance m x t + b (m and b read
// from txtM and txtB) in lblCapacitance; "No Data!" for a zero slope, without
// reading txtB, and "Out of Range!" when the capacitance is not finite.
// Called only after a measurement that produced a time.
void ShowResults(float seconds, Display& display, std::string_view decimalSeparator);

}  // namespace capmeter
