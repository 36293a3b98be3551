#pragma once

#include <cstdint>

#include "device/driver_library.h"
#include "device/ft_types.h"
#include "ui/display.h"

namespace capmeter {

// The device the link opens, and the bit mode that lets its pins go again.
inline constexpr std::int32_t kFirstDevice = 0;
inline constexpr std::uint8_t kAllInputs = 0x00;
inline constexpr std::uint8_t kLeaveBitBang = 0x00;

// The device link state a program holds for the whole run (the window, the
// monitor). The handle is
// null before the open and is never cleared, not even after the close.
struct DeviceLink {
  FT_HANDLE lngHandle = nullptr;
};

// Opens the first device the library knows and says whether that worked;
// returns the open's status, for callers that act on it. The program goes
// on either way; there is no retry.
FT_STATUS OpenLink(DeviceLink& link, DriverLibrary& library, Display& display);

// Switches bit-bang mode off and closes the device, reporting each failure.
// Both steps always run, even after a failed open.
void CloseLink(const DeviceLink& link, DriverLibrary& library, Display& display);

}  // namespace capmeter
