#include "cli/stored_calibration.h"

#include <ostream>

#include "calibration/open_chip.h"

namespace capmeter::cli {

OpenChipKey KeyForOpenChip(CommandContext& context, FT_HANDLE handle, Timing timing,
                           double requestedRate, const std::string& label) {
  OpenChipKey found;
  const std::optional<DeviceInfo> chip =
      context.selection != nullptr ? context.selection->OpenChip() : std::nullopt;
  if (!chip || chip->serialNumber.empty()) {
    found.whyNot =
        context.library.Devices() == nullptr
            ? "the open chip's serial number cannot be read: " + context.library.WhyNoDeviceList()
            : std::string("the driver gives no serial number for the open chip");
    return found;
  }
  found.key = KeyForChip(chip->serialNumber, timing, requestedRate, label, handle, context.library);
  return found;
}

void ReportStoreProblem(const std::string& problem, std::ostream& err) {
  err << "capmeter-cli: " << problem
      << ". Move it away or mend it; --no-calibration measures without it.\n";
}

StoredLineLookup LookUpStoredLine(CommandContext& context, FT_HANDLE handle, Timing timing,
                                  double requestedRate, const std::string& label,
                                  std::ostream& err) {
  StoredLineLookup lookup;
  if (context.calibrations == nullptr) return lookup;
  const CalibrationStore::Loaded loaded = context.calibrations->Load();
  if (!loaded.problem.empty()) {
    ReportStoreProblem(loaded.problem + "; it is left as it is", err);
    lookup.failed = true;
    return lookup;
  }
  if (loaded.contents.lines.empty()) return lookup;
  const OpenChipKey found = KeyForOpenChip(context, handle, timing, requestedRate, label);
  if (!found.key) {
    err << "capmeter-cli: no stored calibration is used: " << found.whyNot << ".\n";
    return lookup;
  }
  const StoredLineFound stored = FindForChip(loaded.contents, *found.key, context.decimalSeparator);
  if (!stored.said.empty()) err << "capmeter-cli: " << stored.said << ".\n";
  if (stored.line != nullptr) lookup.line = *stored.line;
  return lookup;
}

}  // namespace capmeter::cli
