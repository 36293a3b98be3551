#pragma once

#include <iosfwd>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "measurement/reading_text.h"
#include "measurement/series.h"

namespace capmeter {

// How a series came about, for the end of the report.
struct SeriesNotes {
  int requested = 0;
  int taken = 0;                  // readings handed to the report
  int stopSignal = 0;             // 0, or the signal that cut the series short
  Clock::Duration pollPeriod{0};  // non-zero when the readings were dithered
  Timing timing = Timing::Poll;
  SampleClock sampleClock;  // with stream timing; a rate of 0: it could not be measured
};

// Writes a series' readings as they arrive, then its summary; one output
// module per format. Each call flushes, so a reading is out before the next
// one is taken, and a failed write shows at once in the stream's state.
class ReadingWriter {
 public:
  virtual ~ReadingWriter() = default;
  virtual void Begin() = 0;
  virtual void Add(const Reading& reading) = 0;
  virtual void Finish(const Summary& summary, const SeriesNotes& notes) = 0;
};

// An output format: its name on command lines, what it is for, and the
// module that writes it to `out`. Every format has the capacitance column,
// empty without a slope.
// - table: for people, with the window's number texts and the user's decimal
//   separator;
// - csv and json: for programs, "." and the shortest text that reads back as
//   the same number, and the clock time of each reading. CSV holds nothing
//   but its heading and the readings, so that any spreadsheet opens it; its
//   summary goes to `aside` as a table.
struct ReadingFormat {
  std::string_view name;
  std::string_view description;
  std::unique_ptr<ReadingWriter> (*makeWriter)(std::ostream& out, std::ostream& aside,
                                               std::string decimalSeparator);
};

// Every format, the default (table) first.
std::span<const ReadingFormat> ReadingFormats();
// The format called `name`; null for none.
const ReadingFormat* FindReadingFormat(std::string_view name);

// `text` left-aligned in a column of `width` characters (at least one blank
// after it), counting each UTF-8 character once so that "µF" lines up.
std::string Column(std::string_view text, std::size_t width);

// The user's decimal separator, from the environment's locale; "." when
// that locale is unknown here.
std::string LocaleDecimalSeparator();

}  // namespace capmeter
