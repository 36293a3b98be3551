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

void NoteVendorLibrary(TraceDriver* trace, VendorLibrary& library) {
  if (trace == nullptr) return;
  trace->Note(library.EnsureLoaded() ? "driver library: loaded " + library.LoadedFile()
                                     : "driver library: could not load " + library.LoadError());
}

#if defined(CAPMETER_DIRECT_USB)
void NoteDirectUsb(TraceDriver* trace, const DirectUsb& usb) {
  if (trace == nullptr) return;
  trace->SetStatusNames(&DirectUsb::StatusName);
  trace->Note("driver: direct USB to " + usb.Id().Text() + ", libusb " +
              DirectUsb::LibraryVersion());
}
#endif

}  // namespace capmeter
