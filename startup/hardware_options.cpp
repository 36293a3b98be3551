#include "startup/hardware_options.h"

#include <utility>

namespace capmeter {

namespace {
constexpr const char* kUsb = "usb";
}  // namespace

UsbOption::UsbOption([[maybe_unused]] CommandLine& commandLine) {
#if defined(CAPMETER_DIRECT_USB)
  commandLine.AddValueOption(kUsb,
                             "Reach the chip with USB ID VID:PID (as lsusb shows it) directly "
                             "through libusb, without the vendor's library.",
                             "VID:PID", "");
#endif
}

std::optional<std::string> UsbOption::Read([[maybe_unused]] const CommandLine& commandLine) {
#if defined(CAPMETER_DIRECT_USB)
  const std::string text = commandLine.Value(kUsb);
  if (text.empty()) return std::nullopt;
  id_ = UsbId::Parse(text);
  if (!id_) {
    return "Invalid value '" + text +
           "' for --usb (expected VID:PID with four hexadecimal digits each, e.g. 1234:5678).";
  }
#endif
  return std::nullopt;
}

HardwareCommandLine::HardwareCommandLine(std::string details)
    : CommandLine("capmeter",
                  "A capacitance meter over USB, on a timing circuit driven by a USB chip.",
                  std::move(details)),
      usb_(*this) {}

bool HardwareCommandLine::Parse(const std::vector<std::string>& arguments) {
  if (!CommandLine::Parse(arguments)) return false;
  if (const std::optional<std::string> error = usb_.Read(*this)) {
    SetError(*error);
    return false;
  }
  return true;
}

DriverOptions HardwareCommandLine::Driver() const {
  DriverOptions options;
  options.trace = TracePath();
  options.chip = Chip();
  options.usb = Usb();
  return options;
}

}  // namespace capmeter
