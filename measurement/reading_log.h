#pragma once

#include <fstream>
#include <memory>
#include <string>

#include "measurement/reading_formats.h"
#include "measurement/series.h"

namespace capmeter {

// A CSV file of readings in the csv format of `capmeter-cli measure`, with
// "." as the decimal point: the monitor's --log and Save, and serve's --log. Every row is flushed
// as it is written, so a crash keeps every reading up to the last. The first write that fails
// closes the file for good; Problem() then says what happened.
class ReadingLog {
 public:
  // Creates (or empties) the file and writes the header; false when that fails.
  bool Open(const std::string& path);
  // False when the row could not be written, now or earlier.
  bool Write(const Reading& reading);

  bool IsOpen() const { return writer_ != nullptr; }
  const std::string& Path() const { return path_; }
  // Why the log stopped, for the user; empty while it works.
  const std::string& Problem() const { return problem_; }

 private:
  // False, with the problem kept and the file closed, when a write failed.
  bool Check();

  std::ofstream file_;
  std::unique_ptr<ReadingWriter> writer_;
  std::string path_;
  std::string problem_;
};

}  // namespace capmeter
