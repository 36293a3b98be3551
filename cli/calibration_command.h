#pragma once

#include <iosfwd>
#include <optional>
#include <string>

#include "calibration/calibration_store.h"
#include "cli/list_command.h"

namespace capmeter::cli {

// Which stored lines a `calibration` command is about: those that match
// every field given.
struct LineFilter {
  std::optional<std::string> chip;
  std::optional<Timing> timing;
  std::optional<double> sampleRate;
  std::optional<std::string> label;

  bool Matches(const CalibrationKey& key) const;
};

enum class CalibrationAction {
  List,    // one row per line
  Show,    // each line in full, with its capacitors
  Remove,  // takes the lines away
};

// `calibration list|show|remove` on the calibration file (null: there is no
// folder for one). kExitFailed when the file cannot be read or written, or
// when show or remove finds no line that matches.
int RunCalibrationCommand(const CalibrationStore* store, CalibrationAction action,
                          const LineFilter& filter, ListFormat format, std::ostream& out,
                          std::ostream& err);

}  // namespace capmeter::cli
