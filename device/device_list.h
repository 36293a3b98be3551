#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "device/ft_types.h"

namespace capmeter {

// FT_GetDeviceInfoDetail's flag bits.
inline constexpr std::uint32_t kDeviceOpened = 1;     // open, in this program or another
inline constexpr std::uint32_t kDeviceHighSpeed = 2;  // a high-speed chip
// FT_OpenEx's way to find the chip: by its serial number, the one way used.
inline constexpr std::uint32_t kOpenBySerialNumber = 1;
// The library's longest texts, with their terminating zero.
inline constexpr std::size_t kSerialNumberSize = 16;
inline constexpr std::size_t kDescriptionSize = 64;
// The status of an index or a serial number no chip has.
inline constexpr FT_STATUS kDeviceNotFound = 2;

// One chip of the list, as FT_GetDeviceInfoDetail tells it.
struct DeviceInfo {
  std::uint32_t flags = 0;
  std::uint32_t locId = 0;  // the driver's number for where it sits; 0: not told
  std::string serialNumber;
  std::string description;
  // Where it sits in words ("bus 1, port 2.3"), for a driver that knows more
  // than a number; empty otherwise.
  std::string location;
};

// What a driver adds when it can say which chips are connected and open one
// by its serial number. Reached through DriverLibrary::Devices(). The same
// rules hold as for the five operations: 0 is success, and a failing call
// changes nothing it was handed.
//
// Operation               Arguments                       On success
// FT_CreateDeviceInfoList receives the count              takes a fresh list of the
//                                                         chips; *count = how many
// FT_GetDeviceInfoDetail  index into that list;           *info = that chip; its index is
//                         receives the chip               the one FT_Open takes
// FT_OpenEx               serial number;                  fills *handle with a valid handle
//                         kOpenBySerialNumber;            for the chip with that serial
//                         receives the handle
class DeviceList {
 public:
  virtual ~DeviceList() = default;

  virtual FT_STATUS FT_CreateDeviceInfoList(std::uint32_t* count) = 0;
  virtual FT_STATUS FT_GetDeviceInfoDetail(std::uint32_t index, DeviceInfo* info) = 0;
  virtual FT_STATUS FT_OpenEx(const std::string& serialNumber, std::uint32_t openBy,
                              FT_HANDLE* handle) = 0;
};

}  // namespace capmeter
