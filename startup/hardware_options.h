#pragma once

#include <optional>
#include <string>
#include <vector>

#include "device/usb_id.h"
#include "startup/command_line.h"
#include "startup/driver_setup.h"

namespace capmeter {

// --usb VID:PID, where the build has the direct USB driver: reach the chip
// through libusb instead of the vendor's library. For the programs that talk
// to a real chip (capmeter, capmeter-monitor).
class UsbOption {
 public:
  // Adds the option to `commandLine`.
  explicit UsbOption(CommandLine& commandLine);

  // After `commandLine` was parsed: the error text when the value is no USB
  // ID, nothing when it is one or the option was not given.
  std::optional<std::string> Read(const CommandLine& commandLine);
  // The USB ID after --usb; empty without the option.
  const std::optional<UsbId>& Id() const { return id_; }

 private:
  std::optional<UsbId> id_;
};

// capmeter's command line: what every window program takes, and --usb.
class HardwareCommandLine : public CommandLine {
 public:
  explicit HardwareCommandLine(std::string details);

  // As CommandLine::Parse, and false as well when --usb is no USB ID.
  bool Parse(const std::vector<std::string>& arguments);
  const std::optional<UsbId>& Usb() const { return usb_.Id(); }
  // The vendor's library, or with --usb the chip directly; traced if asked.
  DriverOptions Driver() const;

 private:
  UsbOption usb_;
};

}  // namespace capmeter
