#include "monitor/reading_log.h"

#include <cerrno>
#include <cstring>

#include "measurement/reading_text.h"

namespace capmeter {

bool ReadingLog::Open(const std::string& path) {
  path_ = path;
  problem_.clear();
  file_.reset(std::fopen(path.c_str(), "w"));
  if (!file_) {
    problem_ = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  return Put(std::string(kReadingCsvHeader));
}

bool ReadingLog::Write(const Reading& reading) {
  return file_ && Put(ReadingCsvRow(reading));
}

bool ReadingLog::Put(const std::string& line) {
  errno = 0;
  const bool written = std::fputs(line.c_str(), file_.get()) >= 0 &&
                       std::fputc('\n', file_.get()) != EOF && std::fflush(file_.get()) == 0;
  if (!written) {
    const int error = errno;
    problem_ = "writing " + path_ + " failed" +
               (error != 0 ? ": " + std::string(std::strerror(error)) : "");
    file_.reset();
  }
  return written;
}

}  // namespace capmeter
