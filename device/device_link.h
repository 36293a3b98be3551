#pragma once

#include "device/driver_library.h"
#include "device/ft_types.h"
#include "ui/display.h"

namespace capmeter {

// The device link state the window holds for the whole run. The handle is
// null before the open and is never cleared, not even after the close.
struct DeviceLink {
  FT_HANDLE lngHandle = nullptr;
};

// Opens the first device the library knows and says whether that worked.
// The program goes on either way; there is no retry.
void OpenLink(DeviceLink& link, DriverLibrary& library, Display& display);

// Switches bit-bang mode off and closes the device, reporting each failure.
// Both steps always run, even after a failed open.
void CloseLink(const DeviceLink& link, DriverLibrary& library, Display& display);

}  // namespace capmeter
