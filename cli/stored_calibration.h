#pragma once

#include <iosfwd>
#include <optional>
#include <string>

#include "calibration/calibration_store.h"
#include "cli/command_context.h"

namespace capmeter::cli {

// The key the open chip's line is kept under, for the timing in use and, streamed,
// the rate asked (the family's default resolved); none, with why, when the
// chip's serial number cannot be read.
struct OpenChipKey {
  std::optional<CalibrationKey> key;
  std::string whyNot;
};
OpenChipKey KeyForOpenChip(CommandContext& context, FT_HANDLE handle, Timing timing,
                           double requestedRate, const std::string& label);

// The stored line for the open chip, for a command given no line of its
// own: said on `err` in one line when there is one; where the chip has
// lines only for other timings or labels, those are named. `failed` when
// the file cannot be used, said on `err`: a file in doubt is not passed
// over.
struct StoredLineLookup {
  std::optional<StoredLine> line;
  bool failed = false;
};
StoredLineLookup LookUpStoredLine(CommandContext& context, FT_HANDLE handle, Timing timing,
                                  double requestedRate, const std::string& label,
                                  std::ostream& err);

// What the calibration file's problem means for the user, on `err`.
void ReportStoreProblem(const std::string& problem, std::ostream& err);

}  // namespace capmeter::cli
