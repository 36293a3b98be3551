#pragma once

#include <iosfwd>
#include <string>

#include "measurement/reading_text.h"
#include "measurement/series.h"

namespace capmeter::cli {

enum class Format { Table, Csv, Json };

// How a series came about, for the end of the report.
struct SeriesNotes {
  int requested = 0;
  int stopSignal = 0;             // 0, or the signal that cut the series short
  Clock::Duration pollPeriod{0};  // non-zero when the readings were dithered
};

// Writes readings as they arrive, then the summary.
//
// The table is for people and uses the window's number texts with the
// user's decimal separator. CSV and JSON are for programs and always write
// "." and the shortest text that reads back as the same number; CSV holds
// nothing but its heading and the readings, so that any spreadsheet opens
// it, and its summary goes to `aside` as a table.
class ReadingReport {
 public:
  ReadingReport(Format format, std::ostream& out, std::string decimalSeparator,
                bool withCapacitance);

  void Begin();
  void Add(const Reading& reading);
  void Finish(const Summary& summary, const SeriesNotes& notes, std::ostream& aside);

 private:
  void TableSummary(const Summary& summary, const SeriesNotes& notes, std::ostream& to) const;

  Format format_;
  std::ostream& out_;
  std::string separator_;
  bool withCapacitance_;
  int added_ = 0;
};

// The user's decimal separator, from the environment's locale; "." when
// that locale is unknown here.
std::string LocaleDecimalSeparator();

}  // namespace capmeter::cli
