#include "cli/command_context.h"

#include <ostream>

#include "device/device_link.h"

namespace capmeter::cli {

LibraryLoad LoadVendorLibrary(VendorLibrary& vendor) {
  if (vendor.EnsureLoaded()) {
    return {true, "loaded " + vendor.LoadedFile()};
  }
  std::string tried;
  for (const std::string& name : vendor.LibraryNames()) {
    tried += (tried.empty() ? "" : ", ") + name;
  }
  return {false, "could not load " + vendor.LoadError() + "; tried " + tried};
}

DeviceSession::DeviceSession(DriverLibrary& library)
    : library_(library), openStatus_(library.FT_Open(kFirstDevice, &handle_)) {}

DeviceSession::~DeviceSession() {
  Close();
}

DeviceSession::Closing DeviceSession::Close() {
  Closing closing;
  if (closed_ || !IsOpen()) {
    return closing;
  }
  closed_ = true;
  closing.reset = library_.FT_SetBitMode(handle_, kAllInputs, kLeaveBitBang);
  closing.close = library_.FT_Close(handle_);
  return closing;
}

bool ReportUnreachable(const LibraryLoad& load, const DeviceSession& session, std::ostream& err) {
  if (!load.loaded) {
    err << "capmeter-cli: driver library: " << load.text << ".\n";
    return true;
  }
  if (!session.IsOpen()) {
    err << "capmeter-cli: could not open device 0 (status " << session.OpenStatus()
        << "). Run \"capmeter-cli check\" to see which step fails.\n";
    return true;
  }
  return false;
}

bool ReportClosing(const DeviceSession::Closing& closing, std::ostream& err) {
  if (closing.reset != kStatusOk) {
    err << "capmeter-cli: could not leave bit-bang mode (status " << closing.reset << ").\n";
  }
  if (closing.close != kStatusOk) {
    err << "capmeter-cli: could not close the device (status " << closing.close << ").\n";
  }
  return closing.reset == kStatusOk && closing.close == kStatusOk;
}

}  // namespace capmeter::cli
