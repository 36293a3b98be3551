#include "cli/stored_calibration.h"

#include <ostream>

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
  CalibrationKey key{chip->serialNumber, timing, 0.0, label};
  if (timing == Timing::Stream) {
    key.sampleRate = requestedRate != kFamilyDefaultRate
                         ? requestedRate
                         : PlanStream(handle, context.library, requestedRate).rate;
  }
  found.key = key;
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
  if (const StoredLine* line = loaded.contents.Find(*found.key)) {
    err << "capmeter-cli: " << LineSummary(*line, context.decimalSeparator) << ".\n";
    lookup.line = *line;
    return lookup;
  }
  std::string others;
  for (const StoredLine& line : loaded.contents.lines) {
    if (line.key.chip == found.key->chip)
      others += (others.empty() ? "" : ", ") + KeyText(line.key);
  }
  if (!others.empty()) {
    err << "capmeter-cli: no calibration stored for " << KeyText(*found.key) << ", only for "
        << others << "; readings are times only.\n";
  }
  return lookup;
}

}  // namespace capmeter::cli
