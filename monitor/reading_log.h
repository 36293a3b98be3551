#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "measurement/series.h"

namespace capmeter {

// A CSV file of readings with the columns of `capmeter-cli --format csv` and
// "." as the decimal point. Every row is flushed as it is written, so a crash
// keeps every reading up to the last. The first write that fails closes the
// file for good; Problem() then says what happened.
class ReadingLog {
 public:
  // Creates (or empties) the file and writes the header; false when that fails.
  bool Open(const std::string& path);
  // False when the row could not be written, now or earlier.
  bool Write(const Reading& reading);

  bool IsOpen() const { return file_ != nullptr; }
  const std::string& Path() const { return path_; }
  // Why the log stopped, for the user; empty while it works.
  const std::string& Problem() const { return problem_; }

 private:
  bool Put(const std::string& line);

  struct Closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };
  std::unique_ptr<std::FILE, Closer> file_;
  std::string path_;
  std::string problem_;
};

}  // namespace capmeter
