#pragma once

#include <cstdio>
#include <string>

#include "device/driver_library.h"
#include "tests/support/event_log.h"
#include "tests/support/forwarding_driver.h"

namespace capmeter::testing {

// Passes every call on to another driver library and records it with its
// arguments and status, e.g. "FT_SetBitMode mask=fd enable=ff -> 0".
// FT_GetBitMode calls are counted, not logged, since a poll loop makes many.
class RecordingDriver final : public ForwardingDriver {
 public:
  RecordingDriver(DriverLibrary& inner, EventLog& log) : ForwardingDriver(inner), log_(log) {}

  FT_STATUS FT_Open(std::int32_t deviceIndex, FT_HANDLE* handle) override {
    const FT_STATUS status = inner_.FT_Open(deviceIndex, handle);
    Log("FT_Open index=" + std::to_string(deviceIndex), status);
    return status;
  }
  FT_STATUS FT_SetBitMode(FT_HANDLE handle, std::uint8_t mask, std::uint8_t enable) override {
    handles.push_back(handle);
    const FT_STATUS status = inner_.FT_SetBitMode(handle, mask, enable);
    Log("FT_SetBitMode mask=" + Hex(mask) + " enable=" + Hex(enable), status);
    return status;
  }
  FT_STATUS FT_Write(FT_HANDLE handle, const void* buffer, std::uint32_t bytesToWrite,
                     std::uint32_t* bytesWritten) override {
    handles.push_back(handle);
    std::string bytes;
    for (std::uint32_t i = 0; i < bytesToWrite; ++i) {
      if (i > 0) bytes += ',';
      bytes += Hex(static_cast<const std::uint8_t*>(buffer)[i]);
    }
    const FT_STATUS status = inner_.FT_Write(handle, buffer, bytesToWrite, bytesWritten);
    Log("FT_Write bytes=" + bytes + " length=" + std::to_string(bytesToWrite), status);
    return status;
  }
  FT_STATUS FT_GetBitMode(FT_HANDLE handle, std::uint8_t* pins) override {
    handles.push_back(handle);
    ++getBitModeCalls;
    return inner_.FT_GetBitMode(handle, pins);
  }
  FT_STATUS FT_Close(FT_HANDLE handle) override {
    handles.push_back(handle);
    const FT_STATUS status = inner_.FT_Close(handle);
    Log("FT_Close", status);
    return status;
  }

  static std::string Hex(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%02x", value);
    return text;
  }

  std::size_t getBitModeCalls = 0;
  std::vector<FT_HANDLE> handles;  // the handle of every call after FT_Open

 private:
  void Log(const std::string& call, FT_STATUS status) {
    log_.push_back(call + " -> " + std::to_string(status));
  }

  EventLog& log_;
};

}  // namespace capmeter::testing
