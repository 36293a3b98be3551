#pragma once

#include <string>
#include <string_view>

#include "measurement/series.h"

namespace capmeter {

// Outcome words in every output: "ok", "read error", "timed out".
const char* OutcomeWord(MeasureOutcome outcome);

// The shortest text that reads back as the same number, with "." always:
// for files that programs read (CSV, JSON).
std::string MachineNumber(double value);
std::string MachineNumber(float value);

// One reading as a CSV row, the columns of kReadingCsvHeader, without the
// line end. Only finite capacitances are written; the others stay empty, as
// does the time of a reading without one.
inline constexpr std::string_view kReadingCsvHeader = "index,seconds,microfarads,outcome";
std::string ReadingCsvRow(const Reading& reading);

}  // namespace capmeter
