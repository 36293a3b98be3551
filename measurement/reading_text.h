#pragma once

#include <chrono>
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

// A clock time as ISO 8601 in UTC with milliseconds,
// "2026-12-08T12:05:24.123Z".
std::string UtcTimeText(std::chrono::system_clock::time_point time);

// A text as one CSV field: quoted, its quotes doubled, when a comma, quote or
// line end in it would break the row.
std::string CsvField(std::string_view text);

// One reading as a CSV row, the columns of kReadingCsvHeader, without the
// line end. Only finite capacitances are written; the others stay empty, as
// does the charge time of a reading without one. The failure is why a read
// error happened (empty for the others). New columns come last, so that
// scripts reading the first columns by position keep working.
inline constexpr std::string_view kReadingCsvHeader =
    "index,seconds,microfarads,outcome,time,seconds_uncertainty,failure";
std::string ReadingCsvRow(const Reading& reading);

}  // namespace capmeter
