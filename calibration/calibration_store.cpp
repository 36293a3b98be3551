#include "calibration/calibration_store.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "measurement/result_text.h"

#if defined(_WIN32)
#include <io.h>
#include <process.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace capmeter {

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

constexpr const char* kFormatName = "capmeter calibrations";
// A calibration file is a few kilobytes; anything this large is not one.
constexpr std::uintmax_t kLargestFile = 4 * 1024 * 1024;
// How long a change waits for another program's change to end.
constexpr auto kLockPatience = std::chrono::seconds(10);

[[noreturn]] void Refuse(const std::string& why) {
  throw std::runtime_error(why);
}

const json& Field(const json& object, const char* name, const std::string& where) {
  const auto found = object.find(name);
  if (found == object.end()) Refuse(where + "has no \"" + name + "\"");
  return *found;
}

double NumberField(const json& object, const char* name, const std::string& where) {
  const json& value = Field(object, name, where);
  if (!value.is_number() || !std::isfinite(value.get<double>())) {
    Refuse(where + "\"" + name + "\" is not a number");
  }
  return value.get<double>();
}

int CountField(const json& object, const char* name, const std::string& where) {
  const json& value = Field(object, name, where);
  if (!value.is_number_integer() || value.get<std::int64_t>() < 0 ||
      value.get<std::int64_t>() > 1'000'000'000) {
    Refuse(where + "\"" + name + "\" is not a count");
  }
  return value.get<int>();
}

std::string TextField(const json& object, const char* name, const std::string& where) {
  const json& value = Field(object, name, where);
  if (!value.is_string()) Refuse(where + "\"" + name + "\" is not a text");
  return value.get<std::string>();
}

json LineObject(const StoredLine& line) {
  json object = {
      {"chip", line.key.chip},
      {"timing", std::string(TimingName(line.key.timing))},
  };
  if (line.key.timing == Timing::Stream) object["sample_rate"] = line.key.sampleRate;
  object["label"] = line.key.label;
  object["slope_uF_per_s"] = line.line.slope;
  object["intercept_uF"] = line.line.intercept;
  object["made"] = line.made;
  object["program"] = line.program;
  object["saves"] = line.saves;
  object["spread"] = line.spread;
  json points = json::array();
  for (const CalibrationPoint& p : line.points) {
    points.push_back({{"known_uF", p.knownMicrofarads},
                      {"readings", p.readings},
                      {"mean_s", p.meanSeconds},
                      {"residual_uF", p.residualMicrofarads}});
  }
  object["capacitors"] = points;
  if (line.zero) {
    object["zero"] = {{"uF", line.zero->microfarads},
                      {"made", line.zero->made},
                      {"readings", line.zero->readings}};
  }
  return object;
}

StoredLine LineFrom(const json& object, const std::string& where) {
  if (!object.is_object()) Refuse(where + "is not an object");
  StoredLine line;
  line.key.chip = TextField(object, "chip", where);
  const std::string timing = TextField(object, "timing", where);
  const std::optional<Timing> parsed = TimingFromName(timing);
  if (!parsed || *parsed == Timing::Auto) Refuse(where + "timing \"" + timing + "\" is unknown");
  line.key.timing = *parsed;
  if (line.key.timing == Timing::Stream) {
    line.key.sampleRate = NumberField(object, "sample_rate", where);
  }
  line.key.label = TextField(object, "label", where);
  line.line.slope = NumberField(object, "slope_uF_per_s", where);
  line.line.intercept = NumberField(object, "intercept_uF", where);
  line.made = TextField(object, "made", where);
  line.program = TextField(object, "program", where);
  line.saves = CountField(object, "saves", where);
  line.spread = NumberField(object, "spread", where);
  const json& points = Field(object, "capacitors", where);
  if (!points.is_array()) Refuse(where + "\"capacitors\" is not a list");
  for (std::size_t i = 0; i < points.size(); ++i) {
    const std::string at = where + "capacitor " + std::to_string(i + 1) + ": ";
    if (!points[i].is_object()) Refuse(at + "is not an object");
    line.points.push_back(
        {NumberField(points[i], "known_uF", at), CountField(points[i], "readings", at),
         NumberField(points[i], "mean_s", at), NumberField(points[i], "residual_uF", at)});
  }
  if (const auto zero = object.find("zero"); zero != object.end()) {
    const std::string at = where + "zero: ";
    if (!zero->is_object()) Refuse(at + "is not an object");
    line.zero = OpenCircuitZero{NumberField(*zero, "uF", at), TextField(*zero, "made", at),
                                CountField(*zero, "readings", at)};
  }
  return line;
}

std::string ErrorText(int error) {
  return error != 0 ? std::strerror(error) : "unknown error";
}

// Held while one program reads, changes and writes the file: an advisory
// lock on a file of its own beside it, since the rename replaces the
// calibration file itself.
class FileLock {
 public:
  explicit FileLock(const fs::path& path) {
    const auto deadline = std::chrono::steady_clock::now() + kLockPatience;
#if defined(_WIN32)
    handle_ = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle_ == INVALID_HANDLE_VALUE) {
      problem_ = "cannot open " + path.string();
      return;
    }
    for (;;) {
      OVERLAPPED start{};
      if (LockFileEx(handle_, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                     &start)) {
        return;
      }
      if (std::chrono::steady_clock::now() > deadline) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
#else
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) {
      problem_ = "cannot open " + path.string() + ": " + ErrorText(errno);
      return;
    }
    for (;;) {
      if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) return;
      if (errno != EWOULDBLOCK && errno != EINTR) {
        problem_ = "cannot lock " + path.string() + ": " + ErrorText(errno);
        return;
      }
      if (std::chrono::steady_clock::now() > deadline) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
#endif
    problem_ = "another program has held " + path.string() + " for over 10 s";
  }
  ~FileLock() {
#if defined(_WIN32)
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
#else
    if (fd_ >= 0) ::close(fd_);  // lets the lock go
#endif
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  const std::string& Problem() const {
    return problem_;
  }

 private:
#if defined(_WIN32)
  HANDLE handle_ = INVALID_HANDLE_VALUE;
#else
  int fd_ = -1;
#endif
  std::string problem_;
};

int ProcessId() {
#if defined(_WIN32)
  return _getpid();
#else
  return static_cast<int>(::getpid());
#endif
}

// Writes `text` to a temporary file beside `file`, flushes it to the disk
// and renames it over `file`. Empty when done, else why not; the old file
// is left as it was either way.
std::string WriteReplacing(const fs::path& file, const std::string& text) {
  fs::path temporary = file;
  temporary += ".";
  temporary += std::to_string(ProcessId());
  temporary += ".tmp";
#if defined(_WIN32)
  std::FILE* out = _wfopen(temporary.c_str(), L"wb");
#else
  std::FILE* out = std::fopen(temporary.c_str(), "wb");
#endif
  if (out == nullptr) return "cannot write " + temporary.string() + ": " + ErrorText(errno);
  errno = 0;
  bool written =
      std::fwrite(text.data(), 1, text.size(), out) == text.size() && std::fflush(out) == 0;
#if defined(_WIN32)
  written = written && _commit(_fileno(out)) == 0;
#else
  written = written && ::fsync(fileno(out)) == 0;
#endif
  const int writeError = errno;
  written = (std::fclose(out) == 0) && written;
  std::error_code ignored;
  if (!written) {
    fs::remove(temporary, ignored);
    return "cannot write " + temporary.string() + ": " + ErrorText(writeError);
  }
  std::error_code renamed;
  fs::rename(temporary, file, renamed);
  if (renamed) {
    fs::remove(temporary, ignored);
    return "cannot replace " + file.string() + ": " + renamed.message();
  }
#if !defined(_WIN32)
  // The rename itself reaches the disk with the folder.
  const int folder = ::open(file.parent_path().c_str(), O_RDONLY | O_CLOEXEC);
  if (folder >= 0) {
    ::fsync(folder);
    ::close(folder);
  }
#endif
  return {};
}

}  // namespace

Line StoredLine::InUse() const {
  return {line.slope, line.intercept - (zero ? zero->microfarads : 0.0)};
}

const StoredLine* CalibrationFile::Find(const CalibrationKey& key) const {
  for (const StoredLine& line : lines) {
    if (line.key == key) return &line;
  }
  return nullptr;
}

StoredLine* CalibrationFile::Find(const CalibrationKey& key) {
  return const_cast<StoredLine*>(std::as_const(*this).Find(key));
}

void CalibrationFile::Keep(StoredLine line) {
  if (StoredLine* old = Find(line.key)) {
    line.saves = old->saves + 1;
    *old = std::move(line);
    return;
  }
  line.saves = 1;
  lines.push_back(std::move(line));
}

std::string FormatCalibrations(const CalibrationFile& file) {
  json lines = json::array();
  for (const StoredLine& line : file.lines) lines.push_back(LineObject(line));
  const json document = {
      {"format", kFormatName}, {"version", kCalibrationFormatVersion}, {"lines", lines}};
  return document.dump(2) + "\n";
}

std::string LineJson(const StoredLine& line) {
  return LineObject(line).dump();
}

CalibrationFile ParseCalibrations(const std::string& text) {
  json document;
  try {
    document = json::parse(text);
  } catch (const json::parse_error& error) {
    // Its text begins with the library's own tag, which tells a user nothing.
    std::string why = error.what();
    if (const auto tag = why.find("] "); tag != std::string::npos) why.erase(0, tag + 2);
    Refuse("not JSON: " + why);
  }
  if (!document.is_object() || document.value("format", json()) != kFormatName) {
    Refuse("not a capmeter calibration file (no \"format\": \"" + std::string(kFormatName) + "\")");
  }
  const json& version = Field(document, "version", "");
  if (!version.is_number_integer()) Refuse("\"version\" is not a whole number");
  if (version.get<std::int64_t>() > kCalibrationFormatVersion) {
    Refuse("written by a newer capmeter (format version " + version.dump() + "; this one reads " +
           std::to_string(kCalibrationFormatVersion) + ")");
  }
  if (version.get<std::int64_t>() < 1) Refuse("format version " + version.dump() + " is unknown");
  const json& lines = Field(document, "lines", "");
  if (!lines.is_array()) Refuse("\"lines\" is not a list");
  CalibrationFile file;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    StoredLine line = LineFrom(lines[i], "line " + std::to_string(i + 1) + ": ");
    if (file.Find(line.key) != nullptr) {
      Refuse("line " + std::to_string(i + 1) + ": a second line for " + KeyText(line.key));
    }
    file.lines.push_back(std::move(line));
  }
  return file;
}

CalibrationStore::Loaded CalibrationStore::Load() const {
  Loaded loaded;
  std::error_code error;
  const fs::file_status status = fs::status(file_, error);
  if (status.type() == fs::file_type::not_found) return loaded;
  loaded.exists = true;
  const std::string name = "calibration file " + file_.string() + ": ";
  if (error || status.type() != fs::file_type::regular) {
    loaded.problem = name + (error ? error.message() : "not a regular file");
    return loaded;
  }
  if (fs::file_size(file_, error) > kLargestFile) {
    loaded.problem = name + "too large to be a calibration file";
    return loaded;
  }
  std::ifstream in(file_, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  if (!in) {
    loaded.problem = name + "cannot be read: " + ErrorText(errno);
    return loaded;
  }
  try {
    loaded.contents = ParseCalibrations(text.str());
  } catch (const std::exception& why) {
    loaded.problem = name + why.what();
  }
  return loaded;
}

std::string CalibrationStore::Update(
    const std::function<std::string(CalibrationFile&)>& change) const {
  std::error_code error;
  const fs::path folder = file_.parent_path();
  if (!folder.empty()) {
    fs::create_directories(folder, error);
    if (error) return "cannot make the folder " + folder.string() + ": " + error.message();
  }
  fs::path lockFile = file_;
  lockFile += ".lock";
  const FileLock lock(lockFile);
  if (!lock.Problem().empty()) return lock.Problem();
  Loaded now = Load();
  if (!now.problem.empty()) return now.problem + "; it was left as it is";
  if (std::string refused = change(now.contents); !refused.empty()) return refused;
  return WriteReplacing(file_, FormatCalibrations(now.contents));
}

fs::path DefaultCalibrationFile(const std::function<const char*(const char*)>& environment) {
  const auto folder = [&](const char* name) -> fs::path {
    const char* value = environment(name);
    return value != nullptr && *value != '\0' ? fs::path(value) : fs::path();
  };
  const char* kName = "calibrations.json";
#if defined(_WIN32)
  if (fs::path appData = folder("APPDATA"); !appData.empty()) {
    return appData / "capmeter" / kName;
  }
#else
  // The XDG base directory rule: a relative XDG_CONFIG_HOME is ignored.
  if (fs::path config = folder("XDG_CONFIG_HOME"); config.is_absolute()) {
    return config / "capmeter" / kName;
  }
  if (fs::path home = folder("HOME"); !home.empty()) {
    return home / ".config" / "capmeter" / kName;
  }
#endif
  return {};
}

std::string KeyText(const CalibrationKey& key) {
  std::string text = key.chip + " " + std::string(TimingName(key.timing));
  if (key.timing == Timing::Stream) text += " " + SampleRateText(key.sampleRate);
  if (!key.label.empty()) text += " '" + key.label + "'";
  return text;
}

std::string ZeroText(double microfarads, const std::string& decimalSeparator) {
  char text[32];
  std::snprintf(text, sizeof text, "%.4g", microfarads * 1e6);
  std::string zero = text;
  if (const auto point = zero.find('.'); point != std::string::npos) {
    zero.replace(point, 1, decimalSeparator);
  }
  return zero + " pF";
}

std::string LineSummary(const StoredLine& line, const std::string& decimalSeparator) {
  std::string text = "calibration " + KeyText(line.key) + ", made " + line.made.substr(0, 10);
  if (line.points.empty()) {
    text += ", from m and b as given";
  } else {
    text += ", " + std::to_string(line.points.size()) + " capacitors, within " +
            GeneralText(static_cast<float>(line.spread * 100.0), decimalSeparator) + " %";
  }
  if (line.zero) {
    text += "; open-circuit zero of " + ZeroText(line.zero->microfarads, decimalSeparator) +
            " taken out";
  }
  return text;
}

}  // namespace capmeter
