#pragma once

#include <optional>
#include <string>
#include <vector>

#include "device/usb_id.h"
#include "ui/command_line.h"

namespace capmeter {

// capmeter's command line: besides what every window program takes, where
// the build has the direct USB driver, --usb VID:PID to reach the chip
// through it instead of the vendor's library.
class HardwareCommandLine : public CommandLine {
 public:
  explicit HardwareCommandLine(std::string details);

  // As CommandLine::Parse, and false as well when --usb is no USB ID.
  bool Parse(const std::vector<std::string>& arguments);
  // The USB ID after --usb; empty without the option.
  const std::optional<UsbId>& Usb() const { return usb_; }

 private:
  std::optional<UsbId> usb_;
};

}  // namespace capmeter
