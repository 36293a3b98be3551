#pragma once

#include <cstdint>

#include "device/ft_types.h"

namespace capmeter {

// The five operations of the vendor's driver library that the program uses.
// Two implementations: the binding to the real library (VendorLibrary) and the
// simulated chip with its timing circuit (SimulatedChip).
class DriverLibrary {
 public:
  virtual ~DriverLibrary() = default;

  // Opens device number `deviceIndex`; on success fills *handle.
  virtual FT_STATUS FT_Open(std::int32_t deviceIndex, FT_HANDLE* handle) = 0;
  // Bit-bang mode: `mask` bit set = output pin; `enable` 0 leaves the mode.
  virtual FT_STATUS FT_SetBitMode(FT_HANDLE handle, std::uint8_t mask, std::uint8_t enable) = 0;
  // Writes `bytesToWrite` bytes from `buffer`; *bytesWritten receives the count.
  virtual FT_STATUS FT_Write(FT_HANDLE handle, const void* buffer, std::uint32_t bytesToWrite,
                             std::uint32_t* bytesWritten) = 0;
  // The instantaneous levels of pins D0 to D7 into *pins (bit n = Dn).
  virtual FT_STATUS FT_GetBitMode(FT_HANDLE handle, std::uint8_t* pins) = 0;
  virtual FT_STATUS FT_Close(FT_HANDLE handle) = 0;
};

}  // namespace capmeter
