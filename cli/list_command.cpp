#include "cli/list_command.h"

#include <algorithm>
#include <ostream>
#include <vector>

#include "device/chip_choice.h"
#include "device/hex_text.h"
#include "measurement/reading_formats.h"
#include "measurement/reading_text.h"

namespace capmeter::cli {

namespace {

// The fields of one chip, as every format writes them.
struct ChipRow {
  std::string index;
  std::string serialNumber;
  std::string description;
  std::string location;
  bool open = false;
};

ChipRow RowOf(std::size_t index, const DeviceInfo& chip) {
  std::string location = chip.location;
  if (location.empty() && chip.locId != 0) location = LocationIdText(chip.locId);
  return {std::to_string(index), chip.serialNumber, chip.description, location,
          (chip.flags & kDeviceOpened) != 0};
}

std::string JsonString(const std::string& text) {
  std::string json = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      json += '\\';
      json += c;
    } else if (byte < 0x20 || byte >= 0x7F) {
      // Not UTF-8 for certain: each byte as the character of that number.
      json += "\\u00" + HexText(byte).substr(2);
    } else {
      json += c;
    }
  }
  return json + "\"";
}

void WriteTable(const std::vector<ChipRow>& rows, std::ostream& out) {
  ChipRow widths{"index", "serial number", "description", "location"};
  std::size_t w[4] = {widths.index.size(), widths.serialNumber.size(), widths.description.size(),
                      widths.location.size()};
  for (const ChipRow& row : rows) {
    w[0] = std::max(w[0], row.index.size());
    w[1] = std::max(w[1], row.serialNumber.size());
    w[2] = std::max(w[2], row.description.size());
    w[3] = std::max(w[3], row.location.size());
  }
  const auto line = [&](const ChipRow& row, const std::string& open) {
    out << Column(row.index, w[0] + 1) << Column(row.serialNumber, w[1] + 1)
        << Column(row.description, w[2] + 1) << Column(row.location, w[3] + 1) << open << "\n";
  };
  line(widths, "open");
  for (const ChipRow& row : rows) line(row, row.open ? "yes" : "no");
}

void WriteCsv(const std::vector<ChipRow>& rows, std::ostream& out) {
  out << "index,serial_number,description,location,open\n";
  for (const ChipRow& row : rows) {
    out << row.index << ',' << CsvField(row.serialNumber) << ',' << CsvField(row.description) << ','
        << CsvField(row.location) << ',' << (row.open ? "true" : "false") << "\n";
  }
}

void WriteJson(const std::vector<ChipRow>& rows, std::ostream& out) {
  out << "[";
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const ChipRow& row = rows[i];
    out << (i > 0 ? ",\n " : "\n ") << "{\"index\": " << row.index
        << ", \"serial_number\": " << JsonString(row.serialNumber)
        << ", \"description\": " << JsonString(row.description)
        << ", \"location\": " << JsonString(row.location)
        << ", \"open\": " << (row.open ? "true" : "false") << "}";
  }
  out << (rows.empty() ? "]\n" : "\n]\n");
}

}  // namespace

int RunList(CommandContext& context, ListFormat format, std::ostream& out, std::ostream& err) {
  const DriverLoad load = context.loadLibrary();
  if (!load.loaded) {
    err << "capmeter-cli: no chip can be listed: the driver library " << load.text << ".\n";
    return kExitFailed;
  }
  const ChipListing listing = ListChips(context.library);
  if (!listing.problem.empty()) {
    err << "capmeter-cli: no chip can be listed: " << listing.problem << ".\n";
    return kExitFailed;
  }
  std::vector<ChipRow> rows;
  for (std::size_t i = 0; i < listing.chips.size(); ++i) rows.push_back(RowOf(i, listing.chips[i]));
  switch (format) {
    case ListFormat::Table:
      if (!rows.empty()) WriteTable(rows, out);
      break;
    case ListFormat::Csv:
      WriteCsv(rows, out);
      break;
    case ListFormat::Json:
      WriteJson(rows, out);
      break;
  }
  out.flush();
  if (!out) {
    err << "capmeter-cli: cannot write the list.\n";
    return kExitFailed;
  }
  if (rows.empty()) {
    err << "capmeter-cli: no chip found: the driver works but sees nothing plugged in, or "
           "nothing it may open (on Linux, see docs/hardware.md about permissions).\n";
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace capmeter::cli
