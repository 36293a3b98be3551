#include "cli/calibration_command.h"

#include <algorithm>
#include <ostream>
#include <vector>

#include "measurement/reading_formats.h"
#include "measurement/reading_text.h"

namespace capmeter::cli {

namespace {

using Row = std::vector<std::string>;

void WriteTable(const Row& header, const std::vector<Row>& rows, std::ostream& out) {
  std::vector<std::size_t> widths;
  for (const std::string& title : header) widths.push_back(title.size());
  for (const Row& row : rows) {
    for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
  }
  const auto line = [&](const Row& row) {
    for (std::size_t i = 0; i + 1 < row.size(); ++i) out << Column(row[i], widths[i] + 2);
    out << row.back() << "\n";
  };
  line(header);
  for (const Row& row : rows) line(row);
}

void WriteCsv(const Row& header, const std::vector<Row>& rows, std::ostream& out) {
  for (const Row* row : {&header}) {
    for (std::size_t i = 0; i < row->size(); ++i) out << (i > 0 ? "," : "") << (*row)[i];
    out << "\n";
  }
  for (const Row& row : rows) {
    for (std::size_t i = 0; i < row.size(); ++i) out << (i > 0 ? "," : "") << CsvField(row[i]);
    out << "\n";
  }
}

std::string RateField(const CalibrationKey& key) {
  return key.timing == Timing::Stream ? MachineNumber(key.sampleRate) : "";
}

// The fields of a line's key, as every row begins.
Row KeyFields(const CalibrationKey& key) {
  return {key.chip, std::string(TimingName(key.timing)), RateField(key), key.label};
}

const Row kKeyHeader{"chip", "timing", "sample_rate", "label"};

void WriteLines(const std::vector<const StoredLine*>& lines, ListFormat format, std::ostream& out) {
  Row header = kKeyHeader;
  header.insert(header.end(), {"slope_uF_per_s", "intercept_uF", "zero_uF", "made", "capacitors",
                               "spread", "saves"});
  std::vector<Row> rows;
  for (const StoredLine* line : lines) {
    Row row = KeyFields(line->key);
    row.insert(row.end(), {MachineNumber(line->line.slope), MachineNumber(line->line.intercept),
                           line->zero ? MachineNumber(line->zero->microfarads) : "", line->made,
                           std::to_string(line->points.size()), MachineNumber(line->spread),
                           std::to_string(line->saves)});
    rows.push_back(std::move(row));
  }
  if (format == ListFormat::Csv) return WriteCsv(header, rows, out);
  WriteTable(header, rows, out);
}

// Each line in full: a block of text per line in the table, a row per
// capacitor in CSV.
void ShowLines(const std::vector<const StoredLine*>& lines, ListFormat format, std::ostream& out) {
  if (format == ListFormat::Csv) {
    Row header = kKeyHeader;
    header.insert(header.end(), {"known_uF", "readings", "mean_s", "residual_uF"});
    std::vector<Row> rows;
    for (const StoredLine* line : lines) {
      for (const CalibrationPoint& p : line->points) {
        Row row = KeyFields(line->key);
        row.insert(row.end(), {MachineNumber(p.knownMicrofarads), std::to_string(p.readings),
                               MachineNumber(p.meanSeconds), MachineNumber(p.residualMicrofarads)});
        rows.push_back(std::move(row));
      }
    }
    return WriteCsv(header, rows, out);
  }
  for (const StoredLine* line : lines) {
    out << KeyText(line->key) << "\n"
        << "  m = " << MachineNumber(line->line.slope)
        << " µF/s, b = " << MachineNumber(line->line.intercept) << " µF\n"
        << "  made " << line->made << " by " << line->program << ", saved " << line->saves
        << (line->saves == 1 ? " time" : " times") << ", within ± "
        << MachineNumber(line->spread * 100.0) << " % of each capacitor\n";
    if (line->zero) {
      out << "  open-circuit zero " << MachineNumber(line->zero->microfarads) << " µF, taken "
          << line->zero->made << " from " << line->zero->readings << " readings\n";
    }
    if (!line->points.empty()) {
      std::vector<Row> rows;
      for (const CalibrationPoint& p : line->points) {
        rows.push_back({MachineNumber(p.knownMicrofarads), std::to_string(p.readings),
                        MachineNumber(p.meanSeconds), MachineNumber(p.residualMicrofarads)});
      }
      out << "  ";
      WriteTable({"known (µF)", "readings", "mean t (s)", "residual (µF)"}, rows, out);
    }
    out << "\n";
  }
}

}  // namespace

bool LineFilter::Matches(const CalibrationKey& key) const {
  return (!chip || *chip == key.chip) && (!timing || *timing == key.timing) &&
         (!sampleRate || (key.timing == Timing::Stream && *sampleRate == key.sampleRate)) &&
         (!label || *label == key.label);
}

int RunCalibrationCommand(const CalibrationStore* store, CalibrationAction action,
                          const LineFilter& filter, ListFormat format, std::ostream& out,
                          std::ostream& err) {
  if (store == nullptr) {
    err << "capmeter-cli: there is no folder for the calibration file (HOME is not set).\n";
    return kExitFailed;
  }
  if (action == CalibrationAction::Remove) {
    std::size_t removed = 0;
    const std::string problem = store->Update([&](CalibrationFile& file) {
      const auto kept = std::remove_if(file.lines.begin(), file.lines.end(),
                                       [&](const StoredLine& l) { return filter.Matches(l.key); });
      removed = static_cast<std::size_t>(file.lines.end() - kept);
      file.lines.erase(kept, file.lines.end());
      return removed == 0 ? std::string("no stored line matches") : std::string();
    });
    if (!problem.empty()) {
      err << "capmeter-cli: nothing was removed: " << problem << ".\n";
      return kExitFailed;
    }
    out << "Removed " << removed << (removed == 1 ? " line" : " lines") << " from "
        << store->File().string() << ".\n";
    return kExitOk;
  }

  const CalibrationStore::Loaded loaded = store->Load();
  if (!loaded.problem.empty()) {
    err << "capmeter-cli: " << loaded.problem << "; it is left as it is.\n";
    return kExitFailed;
  }
  std::vector<const StoredLine*> lines;
  for (const StoredLine& line : loaded.contents.lines) {
    if (filter.Matches(line.key)) lines.push_back(&line);
  }
  if (format == ListFormat::Json) {
    out << "[";
    for (std::size_t i = 0; i < lines.size(); ++i) {
      out << (i > 0 ? ",\n " : "\n ") << LineJson(*lines[i]);
    }
    out << (lines.empty() ? "]\n" : "\n]\n");
  } else if (action == CalibrationAction::List) {
    if (!lines.empty() || format == ListFormat::Csv) WriteLines(lines, format, out);
  } else {
    ShowLines(lines, format, out);
  }
  out.flush();
  if (!out) {
    err << "capmeter-cli: cannot write the calibrations.\n";
    return kExitFailed;
  }
  if (lines.empty()) {
    err << "capmeter-cli: no calibration " << (loaded.exists ? "in " : "yet; it would be kept in ")
        << store->File().string() << (filter.chip ? " matches" : "") << ".\n";
    return action == CalibrationAction::List ? kExitOk : kExitFailed;
  }
  return kExitOk;
}

}  // namespace capmeter::cli
