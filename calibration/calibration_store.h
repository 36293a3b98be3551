#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "measurement/line_fit.h"
#include "measurement/stream_timing.h"

namespace capmeter {

// What a stored line is kept under: a line holds for one chip, one timing
// and, streamed, one sample rate; the label tells apart the ranges one chip
// carries (the resistor fitted, say).
struct CalibrationKey {
  std::string chip;  // the chip's serial number
  Timing timing = Timing::Poll;
  double sampleRate = 0.0;  // the rate asked of the chip, stream timing only
  std::string label;

  bool operator==(const CalibrationKey&) const = default;
};

// One known capacitor of a calibration, as it was read.
struct CalibrationPoint {
  double knownMicrofarads = 0.0;
  int readings = 0;
  double meanSeconds = 0.0;
  double residualMicrofarads = 0.0;  // known minus the line at the mean time
};

// The open-circuit capacitance taken out of every later reading.
struct OpenCircuitZero {
  double microfarads = 0.0;
  std::string made;  // UTC, as UtcTimeText writes it
  int readings = 0;
};

struct StoredLine {
  CalibrationKey key;
  Line line;  // m in µF/s, b in µF
  std::string made;
  std::vector<CalibrationPoint> points;
  double spread = 0.0;  // the largest residual over its capacitor, a fraction
  std::string program;  // the program and version that made it
  int saves = 1;        // how often a line was saved under this key
  std::optional<OpenCircuitZero> zero;

  // The line readings use: m, and b with the zero taken out.
  Line InUse() const;
};

struct CalibrationFile {
  std::vector<StoredLine> lines;

  const StoredLine* Find(const CalibrationKey& key) const;
  StoredLine* Find(const CalibrationKey& key);
  // Keeps `line` under its key, counting the saves; a new line drops the
  // old one's zero, since its intercept holds the stray capacitance of now.
  void Keep(StoredLine line);
};

// The file format's version this program writes; newer files are refused.
inline constexpr int kCalibrationFormatVersion = 1;

// The file's text and back. Parse throws std::runtime_error saying what is
// wrong (not JSON, another format, a newer version, a field missing or of
// the wrong kind).
std::string FormatCalibrations(const CalibrationFile& file);
CalibrationFile ParseCalibrations(const std::string& text);
// One line as the file holds it, for `calibration list --format json`.
std::string LineJson(const StoredLine& line);

// The calibration file on disk. Writes go to a temporary file that is then
// renamed over it, so a crash or a full disk leaves the old one whole; each
// change holds a lock and reads the file again first, so two programs saving
// at once both keep their line. A file that cannot be read as a calibration
// file is never written over.
class CalibrationStore {
 public:
  explicit CalibrationStore(std::filesystem::path file) : file_(std::move(file)) {}

  const std::filesystem::path& File() const { return file_; }

  struct Loaded {
    CalibrationFile contents;  // empty when there is no file yet
    bool exists = false;
    std::string problem;  // why the file cannot be used; empty when it can
  };
  Loaded Load() const;

  // Applies `change` to the file as it is now and writes the result; the
  // change may refuse by returning a reason, and nothing is written. Empty
  // when written, else why not, naming the file.
  std::string Update(const std::function<std::string(CalibrationFile&)>& change) const;

 private:
  std::filesystem::path file_;
};

// Where the calibration file lives: $XDG_CONFIG_HOME/capmeter (else
// ~/.config/capmeter) on Linux and macOS, %APPDATA%\capmeter on Windows;
// `environment` looks a variable up (null when unset). Empty when no
// variable names a folder.
std::filesystem::path DefaultCalibrationFile(
    const std::function<const char*(const char*)>& environment);

// An open-circuit zero in picofarads, the size strays come in, to four
// significant digits: "100.2 pF".
std::string ZeroText(double microfarads, const std::string& decimalSeparator = ".");

// The key in words: "SIM-1 stream 1 MS/s '1M'", "SIM-2 poll".
std::string KeyText(const CalibrationKey& key);
// The line in one clause: "calibration SIM-1 stream 1 MS/s '1M', made
// 2026-12-09, 2 capacitors, within 0.02 %"; `decimalSeparator` for the
// figure.
std::string LineSummary(const StoredLine& line, const std::string& decimalSeparator = ".");

}  // namespace capmeter
