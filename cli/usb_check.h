#pragma once

#include <string>

#include "cli/check.h"
#include "cli/command_context.h"
#include "device/direct_usb.h"
#include "device/usb_id.h"

namespace capmeter::cli {

// The direct USB driver's own lines in check: how many devices carry the ID
// (and, when none, which IDs are there), why an open failed, the device node
// opened and the kernel driver detached.
CheckNotes UsbCheckNotes(DirectUsb& usb);

// What check says of a failed open of the chip with `id`; empty when the
// status tells nothing more than its name.
std::string WhyUsbOpenFailed(FT_STATUS status, UsbId id);

// The direct driver in place of a driver library: libusb and its version.
LibraryLoad UsbLibraryLoad();

}  // namespace capmeter::cli
