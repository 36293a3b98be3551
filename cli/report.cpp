#include "cli/report.h"

#include <array>
#include <clocale>
#include <cmath>
#include <csignal>
#include <limits>
#include <ostream>
#include <type_traits>

#include "measurement/display_texts.h"
#include "measurement/float_chars.h"
#include "measurement/reading_text.h"
#include "measurement/result_text.h"

namespace capmeter::cli {

namespace {

// Left-aligned in a column of `width` characters, counting each UTF-8
// character once so that "µF" lines up.
std::string Column(const std::string& text, std::size_t width) {
  std::size_t characters = 0;
  for (const char c : text) {
    characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
  }
  return text + std::string(characters < width ? width - characters : 1, ' ');
}

std::string JsonNumber(double value) {
  return std::isfinite(value) ? MachineNumber(value) : "null";
}

std::string JsonStatistics(const Statistics& s) {
  if (s.count == 0) {
    return "{\"count\": 0}";
  }
  return "{\"count\": " + std::to_string(s.count) + ", \"mean\": " + JsonNumber(s.mean) +
         ", \"standard_deviation\": " +
         (s.standardDeviation ? JsonNumber(*s.standardDeviation) : "null") +
         ", \"minimum\": " + JsonNumber(s.minimum) + ", \"median\": " + JsonNumber(s.median) +
         ", \"maximum\": " + JsonNumber(s.maximum) + "}";
}

// Only for texts of this program's own, which need no escapes.
std::string JsonString(const std::string& text) {
  std::string quoted = "\"";
  quoted += text;
  quoted += '"';
  return quoted;
}

std::string SignalName(int signal) {
  if (signal == SIGINT) return "SIGINT";
  if (signal == SIGTERM) return "SIGTERM";
  return "signal " + std::to_string(signal);
}

}  // namespace

std::string LocaleDecimalSeparator() {
  // Looked up through the C library and put back at once, so nothing else
  // of the program follows the locale. (std::locale("") would do without the
  // switch, but glibc loses a little memory on every such lookup.)
  const char* current = std::setlocale(LC_NUMERIC, nullptr);
  const std::string previous = current != nullptr ? current : "C";
  std::string separator = ".";
  if (std::setlocale(LC_NUMERIC, "") != nullptr) {
    const char* point = std::localeconv()->decimal_point;
    if (point != nullptr && *point != '\0') {
      separator = point;
    }
  }
  std::setlocale(LC_NUMERIC, previous.c_str());
  return separator;
}

ReadingReport::ReadingReport(Format format, std::ostream& out, std::string decimalSeparator,
                             bool withCapacitance)
    : format_(format),
      out_(out),
      separator_(std::move(decimalSeparator)),
      withCapacitance_(withCapacitance) {}

void ReadingReport::Begin() {
  switch (format_) {
    case Format::Table:
      out_ << Column("#", 6) << Column("t (s)", 14) << Column("C (µF)", 14) << "outcome\n";
      break;
    case Format::Csv:
      out_ << kReadingCsvHeader << '\n';
      break;
    case Format::Json:
      out_ << "{\"readings\": [";
      break;
  }
  out_.flush();
}

void ReadingReport::Add(const Reading& r) {
  const bool finite = r.microfarads && std::isfinite(*r.microfarads);
  switch (format_) {
    case Format::Table: {
      std::string capacitance;
      if (r.microfarads) {
        capacitance = finite ? PatternText(*r.microfarads, separator_)
                             : std::string(display_texts::kOutOfRange);
      }
      out_ << Column(std::to_string(r.index), 6)
           << Column(r.HasTime() ? GeneralText(r.seconds, separator_) : "", 14)
           << Column(capacitance, 14) << OutcomeWord(r.outcome) << '\n';
      break;
    }
    case Format::Csv:
      out_ << ReadingCsvRow(r) << '\n';
      break;
    case Format::Json:
      out_ << (added_ > 0 ? ",\n  " : "\n  ") << "{\"index\": " << r.index
           << ", \"seconds\": " << (r.HasTime() ? MachineNumber(r.seconds) : "null")
           << ", \"microfarads\": " << (finite ? MachineNumber(*r.microfarads) : "null")
           << ", \"outcome\": \"" << OutcomeWord(r.outcome) << "\"}";
      break;
  }
  ++added_;
  out_.flush();
}

void ReadingReport::TableSummary(const Summary& summary, const SeriesNotes& notes,
                                 std::ostream& to) const {
  to << "Readings: " << summary.ok << " ok, " << summary.readErrors << " read error"
     << (summary.readErrors == 1 ? "" : "s") << ", " << summary.timedOut << " timed out";
  if (notes.stopSignal != 0) {
    to << "; stopped by " << SignalName(notes.stopSignal) << " after " << added_ << " of "
       << notes.requested << ", the reading under way dropped";
  }
  to << ".\n";
  if (summary.seconds.count == 0) {
    to << "No reading gave a time.\n";
    return;
  }

  const auto row = [&](const std::string& name, const Statistics& s, auto text) {
    to << Column(name, 10) << Column(text(s.mean), 14)
       << Column(s.standardDeviation ? text(*s.standardDeviation) : "-", 14)
       << Column(text(s.minimum), 14) << Column(text(s.median), 14) << text(s.maximum) << '\n';
  };
  to << Column("", 10) << Column("mean", 14) << Column("std. dev.", 14) << Column("minimum", 14)
     << Column("median", 14) << "maximum\n";
  row("t (s)", summary.seconds,
      [&](double v) { return GeneralText(static_cast<float>(v), separator_); });
  if (summary.microfarads && summary.microfarads->count > 0) {
    row("C (µF)", *summary.microfarads, [&](double v) { return PatternText(v, separator_); });
  }
  if (notes.pollPeriod > Clock::Duration::zero()) {
    const double ms = std::chrono::duration<double, std::milli>(notes.pollPeriod).count();
    to << "Dithered over the poll period of " << GeneralText(static_cast<float>(ms), separator_)
       << " ms: the mean time lies about half of it below the charge time, a constant offset "
          "that calibration takes out.\n";
  }
}

void ReadingReport::Finish(const Summary& summary, const SeriesNotes& notes, std::ostream& aside) {
  switch (format_) {
    case Format::Table:
      out_ << '\n';
      TableSummary(summary, notes, out_);
      break;
    case Format::Csv:
      TableSummary(summary, notes, aside);
      break;
    case Format::Json:
      out_ << (added_ > 0 ? "\n" : "") << "],\n\"summary\": {\"ok\": " << summary.ok
           << ", \"read_error\": " << summary.readErrors << ", \"timed_out\": " << summary.timedOut
           << ", \"requested\": " << notes.requested << ", \"stopped_by_signal\": "
           << (notes.stopSignal != 0 ? JsonString(SignalName(notes.stopSignal)) : "null")
           << ",\n  \"seconds\": " << JsonStatistics(summary.seconds) << ",\n  \"microfarads\": "
           << (summary.microfarads ? JsonStatistics(*summary.microfarads) : "null")
           << ",\n  \"dither_poll_period_seconds\": "
           << (notes.pollPeriod > Clock::Duration::zero()
                   ? MachineNumber(std::chrono::duration<double>(notes.pollPeriod).count())
                   : "null")
           << "}}\n";
      break;
  }
  out_.flush();
}

}  // namespace capmeter::cli
