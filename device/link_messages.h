#pragma once

#include <string_view>

// The texts the device link shows, exactly as users know them.
namespace capmeter::link_messages {

inline constexpr std::string_view kOpened = "Device opened.";
inline constexpr std::string_view kOpenFailed =
    "Error: Could not open the device.  Check the USB cable and power connection, then restart "
    "program.";
inline constexpr std::string_view kResetFailed = "Error terminating Bit-Bang mode.";
inline constexpr std::string_view kCloseFailed = "Error closing device";
inline constexpr std::string_view kClosed = "Device closed";

}  // namespace capmeter::link_messages
