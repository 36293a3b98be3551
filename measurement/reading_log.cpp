#include "measurement/reading_log.h"

#include <cerrno>
#include <cstring>

namespace capmeter {

bool ReadingLog::Open(const std::string& path) {
  path_ = path;
  problem_.clear();
  writer_.reset();
  file_.close();
  file_.clear();
  errno = 0;
  file_.open(path, std::ios::out | std::ios::trunc);
  if (!file_) {
    problem_ = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  // The CSV writer's summary has no place in a log.
  writer_ = FindReadingFormat("csv")->makeWriter(file_, file_, ".");
  writer_->Begin();
  return Check();
}

bool ReadingLog::Write(const Reading& reading) {
  if (!writer_) {
    return false;
  }
  errno = 0;
  writer_->Add(reading);
  return Check();
}

bool ReadingLog::Check() {
  if (file_) {
    return true;
  }
  const int error = errno;
  problem_ =
      "writing " + path_ + " failed" + (error != 0 ? ": " + std::string(std::strerror(error)) : "");
  writer_.reset();
  file_.close();
  return false;
}

}  // namespace capmeter
