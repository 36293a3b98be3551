#include "ui/hardware_options.h"

#include <utility>

namespace capmeter {

#if defined(CAPMETER_DIRECT_USB)
namespace {
constexpr const char* kUsb = "usb";
}  // namespace
#endif

HardwareCommandLine::HardwareCommandLine(std::string details)
    : CommandLine("capmeter",
                  "A capacitance meter over USB, on a timing circuit driven by a USB chip.",
                  std::move(details)) {
#if defined(CAPMETER_DIRECT_USB)
  AddValueOption(kUsb,
                 "Reach the chip with USB ID VID:PID (as lsusb shows it) directly through "
                 "libusb, without the vendor's library.",
                 "VID:PID", "");
#endif
}

bool HardwareCommandLine::Parse(const std::vector<std::string>& arguments) {
  if (!CommandLine::Parse(arguments)) return false;
#if defined(CAPMETER_DIRECT_USB)
  const std::string text = Value(kUsb);
  if (text.empty()) return true;
  usb_ = UsbId::Parse(text);
  if (!usb_) {
    SetError("Invalid value '" + text +
             "' for --usb (expected VID:PID with four hexadecimal digits each, e.g. 1234:5678).");
    return false;
  }
#endif
  return true;
}

}  // namespace capmeter
