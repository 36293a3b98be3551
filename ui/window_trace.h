#pragma once

#include <fstream>
#include <optional>
#include <string>

#include "device/driver_library.h"
#include "device/trace_driver.h"
#include "device/vendor_library.h"
#if defined(CAPMETER_DIRECT_USB)
#include "device/direct_usb.h"
#endif
#include "measurement/clock.h"

namespace capmeter {

// A window program's driver library, traced when --trace asks for it. Without
// a trace the program talks to the library directly, as it always did.
class WindowTrace {
 public:
  // `path`: a file, "-" for standard error, or empty for no trace. False when
  // the file cannot be written.
  bool Open(const std::string& path, DriverLibrary& library, Clock& clock);

  // What the window talks to: the trace, or the library itself.
  DriverLibrary& Driver() { return trace_ ? *trace_ : *library_; }
  // The trace, for remarks such as which library file was loaded; null
  // without one.
  TraceDriver* Trace() { return trace_ ? &*trace_ : nullptr; }

 private:
  DriverLibrary* library_ = nullptr;
  std::ofstream file_;
  std::optional<TraceDriver> trace_;
};

// Says in the trace (when there is one) which driver the program talks to:
// the vendor library's file, loaded a moment early so the trace can name it,
// or the chip reached directly over USB, whose statuses the trace then names.
void NoteVendorLibrary(TraceDriver* trace, VendorLibrary& library);
#if defined(CAPMETER_DIRECT_USB)
void NoteDirectUsb(TraceDriver* trace, const DirectUsb& usb);
#endif

}  // namespace capmeter
