#pragma once

#include "device/driver_library.h"

namespace capmeter::testing {

// Passes every call on to another driver library, the sample stream's too
// when it has one. Test drivers derive from it and override only the calls
// they watch or bend.
class ForwardingDriver : public DriverLibrary, public SampleStream {
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

  FamilyReport FamilyOf(FT_HANDLE handle) override { return inner_.FamilyOf(handle); }
  SampleStream* SampleStreaming() override {
    return inner_.SampleStreaming() != nullptr ? this : nullptr;
  }
  std::string WhyNoSampleStream() const override { return inner_.WhyNoSampleStream(); }
  FT_STATUS FT_SetBaudRate(FT_HANDLE handle, std::uint32_t baudRate) override {
    return InnerStream().FT_SetBaudRate(handle, baudRate);
  }
  FT_STATUS FT_SetLatencyTimer(FT_HANDLE handle, std::uint8_t milliseconds) override {
    return InnerStream().FT_SetLatencyTimer(handle, milliseconds);
  }
  FT_STATUS FT_SetUSBParameters(FT_HANDLE handle, std::uint32_t inTransferSize,
                                std::uint32_t outTransferSize) override {
    return InnerStream().FT_SetUSBParameters(handle, inTransferSize, outTransferSize);
  }
  FT_STATUS FT_Purge(FT_HANDLE handle, std::uint32_t mask) override {
    return InnerStream().FT_Purge(handle, mask);
  }
  FT_STATUS FT_GetQueueStatus(FT_HANDLE handle, std::uint32_t* bytesQueued) override {
    return InnerStream().FT_GetQueueStatus(handle, bytesQueued);
  }
  FT_STATUS FT_Read(FT_HANDLE handle, void* buffer, std::uint32_t bytesToRead,
                    std::uint32_t* bytesReturned) override {
    return InnerStream().FT_Read(handle, buffer, bytesToRead, bytesReturned);
  }
  bool TakeArrivals(FT_HANDLE handle, std::vector<SampleArrival>& into) override {
    return InnerStream().TakeArrivals(handle, into);
  }
  bool WaitForSamples(FT_HANDLE handle, std::chrono::nanoseconds most) override {
    return InnerStream().WaitForSamples(handle, most);
  }

 protected:
  // Only reached through SampleStreaming(), which is null without one.
  SampleStream& InnerStream() { return *inner_.SampleStreaming(); }

  DriverLibrary& inner_;
};

}  // namespace capmeter::testing
