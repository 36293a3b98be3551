#include "ui/window_trace.h"

#include <iostream>

namespace capmeter {

bool WindowTrace::Open(const std::string& path, DriverLibrary& library, Clock& clock) {
  library_ = &library;
  if (path.empty()) {
    return true;
  }
  if (path != "-") {
    file_.open(path);
    if (!file_) {
      return false;
    }
  }
  trace_.emplace(library, path == "-" ? std::cerr : file_, [&clock] { return clock.Now(); });
  return true;
}

}  // namespace capmeter
