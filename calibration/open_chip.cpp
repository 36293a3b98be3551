#include "calibration/open_chip.h"

namespace capmeter {

CalibrationKey KeyForChip(const std::string& serialNumber, Timing timing, double requestedRate,
                          const std::string& label, FT_HANDLE lngHandle, DriverLibrary& library) {
  CalibrationKey key{serialNumber, timing, 0.0, label};
  if (timing == Timing::Stream) {
    key.sampleRate = requestedRate != kFamilyDefaultRate
                         ? requestedRate
                         : PlanStream(lngHandle, library, requestedRate).rate;
  }
  return key;
}

StoredLineFound FindForChip(const CalibrationFile& file, const CalibrationKey& key,
                            const std::string& decimalSeparator) {
  StoredLineFound found;
  found.line = file.Find(key);
  if (found.line != nullptr) {
    found.said = LineSummary(*found.line, decimalSeparator);
    return found;
  }
  std::string others;
  for (const StoredLine& line : file.lines) {
    if (line.key.chip == key.chip) others += (others.empty() ? "" : ", ") + KeyText(line.key);
  }
  if (!others.empty()) {
    found.said = "no calibration stored for " + KeyText(key) + ", only for " + others +
                 "; readings are times only";
  }
  return found;
}

ZeroTaken TakeZero(const std::vector<Reading>& readings, int expected, Timing timing,
                   const std::string& made) {
  ZeroTaken taken;
  const Summary summary = Summarize(readings, true);
  if (summary.belowRange > 0) {
    taken.refusal = std::to_string(summary.belowRange) + " of " + std::to_string(readings.size()) +
                    " open-circuit readings were below the range: the circuit's own "
                    "capacitance is too small for " +
                    std::string(TimingName(timing)) +
                    " timing to tell from nothing, so there is nothing to zero; no zero was kept";
  } else if (summary.ok != expected || !summary.microfarads) {
    taken.refusal = std::to_string(expected - summary.ok) + " of " + std::to_string(expected) +
                    " open-circuit readings gave no time (" + std::to_string(summary.readErrors) +
                    " read errors, " + std::to_string(summary.timedOut) +
                    " timed out); no zero was kept";
  } else {
    taken.zero = OpenCircuitZero{summary.microfarads->mean, made, summary.ok};
    taken.standardDeviation = summary.microfarads->standardDeviation;
  }
  return taken;
}

std::string KeepZero(const CalibrationStore& store, const CalibrationKey& key,
                     const std::optional<OpenCircuitZero>& zero) {
  return store.Update([&](CalibrationFile& file) {
    StoredLine* line = file.Find(key);
    if (line == nullptr) return "the line for " + KeyText(key) + " is no longer stored";
    line->zero = zero;
    return std::string();
  });
}

}  // namespace capmeter
