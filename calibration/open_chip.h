#pragma once

#include <optional>
#include <string>
#include <vector>

#include "calibration/calibration_store.h"
#include "measurement/series.h"

namespace capmeter {

// The key a line for the open chip `serialNumber` is kept under: streamed,
// with the rate asked, the family's default resolved to the rate it stands
// for, so a line made "at the default" still fits when the default is named.
CalibrationKey KeyForChip(const std::string& serialNumber, Timing timing, double requestedRate,
                          const std::string& label, FT_HANDLE lngHandle, DriverLibrary& library);

// The line stored under `key`, and what to say of it in one clause: the
// line's summary (LineSummary); with none, the chip's lines kept for other
// timings or labels ("no calibration stored for SIM-1 poll, only for SIM-1
// stream 1 MS/s; readings are times only"), or nothing when the chip has none.
struct StoredLineFound {
  const StoredLine* line = nullptr;  // within the file looked in
  std::string said;
};
StoredLineFound FindForChip(const CalibrationFile& file, const CalibrationKey& key,
                            const std::string& decimalSeparator = ".");

// What `expected` open-circuit readings, taken with the line alone, make of
// the circuit's own capacitance: the zero to keep, or why none is (readings
// below the range: too small for the timing to tell from nothing; readings
// with no time). `made` is when, as UtcTimeText writes it.
struct ZeroTaken {
  std::optional<OpenCircuitZero> zero;
  std::optional<double> standardDeviation;  // µF, with two readings or more
  std::string refusal;                      // why no zero is kept; empty when one is
};
ZeroTaken TakeZero(const std::vector<Reading>& readings, int expected, Timing timing,
                   const std::string& made);

// Keeps `zero` with the line stored under `key`, or with none takes it
// away: empty when written, else why not.
std::string KeepZero(const CalibrationStore& store, const CalibrationKey& key,
                     const std::optional<OpenCircuitZero>& zero);

}  // namespace capmeter
