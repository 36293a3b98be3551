#include "cli/usb_check.h"

#include <vector>

namespace capmeter::cli {

namespace {

std::vector<Verdict> DevicesWithTheId(DirectUsb& usb) {
  const DirectUsb::Survey survey = usb.Look();
  const std::string id = usb.Id().Text();
  if (survey.status != kStatusOk) {
    return {{false, "List the USB devices: status " + std::to_string(survey.status) + ", " +
                        DirectUsb::StatusName(survey.status) + "."}};
  }
  if (survey.matching == 0) {
    std::string present;
    for (const UsbId& other : survey.present) {
      if (!present.empty()) present += ", ";
      present += other.Text();
    }
    return {{false, "0 devices with ID " + id +
                        "; present: " + (present.empty() ? "none" : present) +
                        ". Plug the chip in, or check its ID with lsusb."}};
  }
  return {{true, std::to_string(survey.matching) + (survey.matching == 1 ? " device" : " devices") +
                     " with ID " + id + "."}};
}

std::vector<Verdict> WhatTheOpenDid(const DirectUsb& usb) {
  const DirectUsb::Opened& opened = usb.LastOpened();
  return {
      {true, "Device node " + opened.deviceNode + " (device 0 with ID " + usb.Id().Text() + ")."},
      {true, opened.detachedDriver.empty()
                 ? "No kernel driver held the chip."
                 : "Detached the kernel driver " + opened.detachedDriver +
                       " from the chip; it comes back when the chip is closed."}};
}

}  // namespace

std::string WhyUsbOpenFailed(FT_STATUS status, UsbId id) {
  std::string why = DirectUsb::StatusName(status);
  if (status == usb_status::kAccessDenied) {
    why +=
        ": permission denied. Allow the device to your user with \"sudo "
        "capmeter-allow-device " +
        id.Text() + "\", then unplug the chip and plug it in again";
  } else if (status == usb_status::kBusy) {
    why += ": another program holds the chip; end it, or unplug the chip and plug it in again";
  }
  return why;
}

CheckNotes UsbCheckNotes(DirectUsb& usb) {
  return {[&usb] { return DevicesWithTheId(usb); },
          [&usb](FT_STATUS status) { return WhyUsbOpenFailed(status, usb.Id()); },
          [&usb] { return WhatTheOpenDid(usb); }};
}

LibraryLoad UsbLibraryLoad() {
  return {true, "libusb " + DirectUsb::LibraryVersion() +
                    ", the direct USB driver: no vendor library needed"};
}

}  // namespace capmeter::cli
