#pragma once

#include "device/driver_library.h"

namespace capmeter::testing {

// Passes every call on to another driver library. Test drivers derive from
// it and override only the calls they watch or bend.
class ForwardingDriver : public DriverLibrary {
 public:
  explicit ForwardingDriver(DriverLibrary& inner) : inner_(inner) {}

  FT_STATUS FT_Open(std::int32_t deviceIndex, FT_HANDLE* handle) override {
    return inner_.FT_Open(deviceIndex, handle);
  }
  FT_STATUS FT_SetBitMode(FT_HANDLE handle, std::uint8_t mask, std::uint8_t enable) override {
    return inner_.FT_SetBitMode(handle, mask, enable);
  }
  FT_STATUS FT_Write(FT_HANDLE handle, const void* buffer, std::uint32_t bytesToWrite,
                     std::uint32_t* bytesWritten) override {
    return inner_.FT_Write(handle, buffer, bytesToWrite, bytesWritten);
  }
  FT_STATUS FT_GetBitMode(FT_HANDLE handle, std::uint8_t* pins) override {
    return inner_.FT_GetBitMode(handle, pins);
  }
  FT_STATUS FT_Close(FT_HANDLE handle) override { return inner_.FT_Close(handle); }
  std::string StatusName(FT_STATUS status) const override { return inner_.StatusName(status); }

 protected:
  DriverLibrary& inner_;
};

}  // namespace capmeter::testing
