#include "measurement/reading_formats.h"

#include <chrono>
#include <clocale>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <ostream>

#include "measurement/display_texts.h"
#include "measurement/result_text.h"

namespace capmeter {

namespace {

std::string SignalName(int signal) {
  switch (signal) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
#if defined(SIGHUP)
    case SIGHUP:
      return "SIGHUP";
#endif
    default:
      return "signal " + std::to_string(signal);
  }
}

// The counts and the statistics as a table for people: the table format's
// end, and CSV's on the side.
void WriteTableSummary(const Summary& summary, const SeriesNotes& notes,
                       const std::string& separator, std::ostream& to) {
  to << "Readings: " << summary.ok << " ok, " << summary.readErrors << " read error"
     << (summary.readErrors == 1 ? "" : "s") << ", " << summary.timedOut << " timed out, "
     << summary.belowRange << " below range";
  if (notes.stopSignal != 0) {
    to << "; stopped by " << SignalName(notes.stopSignal) << " after " << notes.taken << " of "
       << notes.requested << ", the reading under way dropped";
  }
  to << ".\n";
  if (!summary.lastFailure.empty()) {
    to << "The last read error: " << summary.lastFailure << ".\n";
  }
  if (notes.timing == Timing::Stream) {
    const auto rate = [&](double v) { return GeneralText(static_cast<float>(v), separator); };
    to << "Timed by the chip's sample clock: " << rate(notes.sampleClock.requestedRate)
       << " S/s asked, "
       << (notes.sampleClock.rate > 0.0
               ? rate(notes.sampleClock.rate) + " S/s measured, ± " +
                     rate(notes.sampleClock.relativeError * 1e6) + " ppm (one standard error)"
               : std::string("its rate could not be measured"))
       << ".\n";
  }
  if (summary.seconds.count == 0) {
    to << "No reading gave a time.\n";
    return;
  }

  const auto row = [&](const std::string& name, const Statistics& s, auto text) {
    to << Column(name, 10) << Column(text(s.mean), 14)
       << Column(s.standardDeviation ? text(*s.standardDeviation) : "-", 14)
       << Column(s.StandardError() ? text(*s.StandardError()) : "-", 14)
       << Column(text(s.minimum), 14) << Column(text(s.median), 14) << text(s.maximum) << '\n';
  };
  to << Column("", 10) << Column("mean", 14) << Column("std. dev.", 14) << Column("std. error", 14)
     << Column("minimum", 14) << Column("median", 14) << "maximum\n";
  row("t (s)", summary.seconds,
      [&](double v) { return GeneralText(static_cast<float>(v), separator); });
  if (summary.microfarads && summary.microfarads->count > 0) {
    row("C (µF)", *summary.microfarads, [&](double v) { return PatternText(v, separator); });
  }
  if (notes.pollPeriod > Clock::Duration::zero()) {
    const double ms = std::chrono::duration<double, std::milli>(notes.pollPeriod).count();
    to << "Dithered over the poll period of " << GeneralText(static_cast<float>(ms), separator)
       << " ms: the mean time lies about half of it below the charge time, a constant offset "
          "that calibration takes out.\n";
  }
}

class TableWriter final : public ReadingWriter {
 public:
  TableWriter(std::ostream& out, std::string separator)
      : out_(out), separator_(std::move(separator)) {}

  void Begin() override {
    out_ << Column("#", 6) << Column("t (s)", 14) << Column("± (s)", 14) << Column("C (µF)", 14)
         << "outcome" << std::endl;
  }
  void Add(const Reading& r) override {
    std::string capacitance;
    if (r.microfarads) {
      capacitance = std::isfinite(*r.microfarads) ? PatternText(*r.microfarads, separator_)
                                                  : std::string(display_texts::kOutOfRange);
    }
    out_ << Column(std::to_string(r.index), 6)
         << Column(r.HasTime() ? GeneralText(r.seconds, separator_) : "", 14)
         << Column(r.HasTime() ? GeneralText(r.boundSeconds, separator_) : "", 14)
         << Column(capacitance, 14) << OutcomeWord(r.outcome)
         << (r.failure.empty() ? "" : " (" + r.failure + ")") << std::endl;
  }
  void Finish(const Summary& summary, const SeriesNotes& notes) override {
    out_ << '\n';
    WriteTableSummary(summary, notes, separator_, out_);
    out_.flush();
  }

 private:
  std::ostream& out_;
  std::string separator_;
};

class CsvWriter final : public ReadingWriter {
 public:
  CsvWriter(std::ostream& out, std::ostream& aside, std::string separator)
      : out_(out), aside_(aside), separator_(std::move(separator)) {}

  void Begin() override { out_ << kReadingCsvHeader << std::endl; }
  void Add(const Reading& reading) override { out_ << ReadingCsvRow(reading) << std::endl; }
  void Finish(const Summary& summary, const SeriesNotes& notes) override {
    WriteTableSummary(summary, notes, separator_, aside_);
    aside_.flush();
  }

 private:
  std::ostream& out_;
  std::ostream& aside_;
  std::string separator_;
};

class JsonWriter final : public ReadingWriter {
 public:
  explicit JsonWriter(std::ostream& out) : out_(out) {}

  void Begin() override { out_ << "{\"readings\": [" << std::flush; }
  void Add(const Reading& r) override {
    const bool finite = r.microfarads && std::isfinite(*r.microfarads);
    out_ << (added_ > 0 ? ",\n  " : "\n  ") << "{\"index\": " << r.index
         << ", \"seconds\": " << (r.HasTime() ? MachineNumber(r.seconds) : "null")
         << ", \"seconds_uncertainty\": " << (r.HasTime() ? MachineNumber(r.boundSeconds) : "null")
         << ", \"microfarads\": " << (finite ? MachineNumber(*r.microfarads) : "null")
         << ", \"outcome\": \"" << OutcomeWord(r.outcome) << "\", \"time\": \""
         << UtcTimeText(r.endedAt) << "\"}" << std::flush;
    ++added_;
  }
  void Finish(const Summary& summary, const SeriesNotes& notes) override {
    out_ << (added_ > 0 ? "\n" : "") << "],\n\"summary\": {\"ok\": " << summary.ok
         << ", \"read_error\": " << summary.readErrors << ", \"timed_out\": " << summary.timedOut
         << ", \"below_range\": " << summary.belowRange << ", \"last_failure\": "
         << (summary.lastFailure.empty() ? "null" : JsonString(summary.lastFailure))
         << ", \"requested\": " << notes.requested << ", \"stopped_by_signal\": "
         << (notes.stopSignal != 0 ? std::string("\"").append(SignalName(notes.stopSignal)) + "\""
                                   : "null")
         << ",\n  \"seconds\": " << Statistics(summary.seconds) << ",\n  \"microfarads\": "
         << (summary.microfarads ? Statistics(*summary.microfarads) : "null")
         << ",\n  \"dither_poll_period_seconds\": "
         << (notes.pollPeriod > Clock::Duration::zero() ? MachineNumber(ToSeconds(notes.pollPeriod))
                                                        : "null");
    if (notes.timing == Timing::Stream) {
      out_ << ",\n  \"timing\": \"" << TimingName(notes.timing)
           << "\", \"requested_samples_per_second\": "
           << MachineNumber(notes.sampleClock.requestedRate)
           << ", \"measured_samples_per_second\": "
           << (notes.sampleClock.rate > 0.0 ? MachineNumber(notes.sampleClock.rate) : "null")
           << ", \"samples_per_second_standard_error\": "
           << (notes.sampleClock.rate > 0.0
                   ? MachineNumber(notes.sampleClock.rate * notes.sampleClock.relativeError)
                   : "null");
    }
    out_ << "}}" << std::endl;
  }

 private:
  // A driver's words may hold anything: quotes, backslashes and control
  // characters are escaped; UTF-8 passes as it is.
  static std::string JsonString(const std::string& text) {
    std::string json = "\"";
    for (const char c : text) {
      if (c == '"' || c == '\\') {
        json.append(1, '\\').append(1, c);
      } else if (static_cast<unsigned char>(c) < 0x20) {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
        json += escaped;
      } else {
        json += c;
      }
    }
    return json + '"';
  }
  static std::string Number(double value) {
    return std::isfinite(value) ? MachineNumber(value) : "null";
  }
  static std::string Statistics(const capmeter::Statistics& s) {
    if (s.count == 0) {
      return "{\"count\": 0}";
    }
    return "{\"count\": " + std::to_string(s.count) + ", \"mean\": " + Number(s.mean) +
           ", \"standard_deviation\": " +
           (s.standardDeviation ? Number(*s.standardDeviation) : "null") +
           ", \"standard_error\": " + (s.StandardError() ? Number(*s.StandardError()) : "null") +
           ", \"minimum\": " + Number(s.minimum) + ", \"median\": " + Number(s.median) +
           ", \"maximum\": " + Number(s.maximum) + "}";
  }

  std::ostream& out_;
  int added_ = 0;
};

}  // namespace

std::span<const ReadingFormat> ReadingFormats() {
  static constexpr ReadingFormat kFormats[] = {
      {"table", "for people: the window's number texts, your decimal separator, a summary",
       [](std::ostream& out, std::ostream&,
          std::string separator) -> std::unique_ptr<ReadingWriter> {
         return std::make_unique<TableWriter>(out, std::move(separator));
       }},
      {"csv", "for spreadsheets: a heading and one row per reading, the summary on standard error",
       [](std::ostream& out, std::ostream& aside,
          std::string separator) -> std::unique_ptr<ReadingWriter> {
         return std::make_unique<CsvWriter>(out, aside, std::move(separator));
       }},
      {"json", "for programs: the readings and the summary in one document",
       [](std::ostream& out, std::ostream&, std::string) -> std::unique_ptr<ReadingWriter> {
         return std::make_unique<JsonWriter>(out);
       }},
  };
  return kFormats;
}

const ReadingFormat* FindReadingFormat(std::string_view name) {
  for (const ReadingFormat& format : ReadingFormats()) {
    if (format.name == name) return &format;
  }
  return nullptr;
}

std::string Column(std::string_view text, std::size_t width) {
  std::size_t characters = 0;
  for (const char c : text) {
    characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
  }
  return std::string(text) + std::string(characters < width ? width - characters : 1, ' ');
}

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

}  // namespace capmeter
