#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <vector>

#include "device/driver_library.h"
#include "measurement/clock.h"
#include "tests/support/forwarding_driver.h"

namespace capmeter::testing {

// Passes every call on to another driver library, except the calls a test
// picks: those fail with a status, report a short write, or come back late.
// Also counts the calls made after the first failed answer, whoever gave it.
class FaultyDriver final : public ForwardingDriver {
 public:
  enum class Operation {
    SetBitMode,
    Write,
    GetBitMode,
    SetBaudRate,
    SetLatencyTimer,
    SetUSBParameters,
    Purge,
    GetQueueStatus,
    Read,
    kCount
  };

  struct Fault {
    Operation operation;
    std::size_t call;                      // which call of that operation, from 1
    FT_STATUS status = kStatusOk;          // non-zero: fails without reaching the library
    std::optional<std::uint32_t> written;  // FT_Write: the count reported instead
    Clock::Duration stall{0};              // time that passes before the call goes on
  };

  static Fault Fails(Operation operation, std::size_t call, FT_STATUS status) {
    return {operation, call, status, std::nullopt, Clock::Duration{0}};
  }
  static Fault ShortWrite(std::size_t call, std::uint32_t written) {
    return {Operation::Write, call, kStatusOk, written, Clock::Duration{0}};
  }
  static Fault Stalls(Operation operation, std::size_t call, Clock::Duration stall) {
    return {operation, call, kStatusOk, std::nullopt, stall};
  }

  FaultyDriver(DriverLibrary& inner, Clock& clock, std::vector<Fault> faults = {})
      : ForwardingDriver(inner), clock_(clock), faults_(std::move(faults)) {}

  FT_STATUS FT_Open(std::int32_t deviceIndex, FT_HANDLE* handle) override {
    Note();
    return Answer(inner_.FT_Open(deviceIndex, handle));
  }
  FT_STATUS FT_SetBitMode(FT_HANDLE handle, std::uint8_t mask, std::uint8_t enable) override {
    const Fault* fault = Begin(Operation::SetBitMode);
    if (fault && fault->status != kStatusOk) return Answer(fault->status);
    return Answer(inner_.FT_SetBitMode(handle, mask, enable));
  }
  FT_STATUS FT_Write(FT_HANDLE handle, const void* buffer, std::uint32_t bytesToWrite,
                     std::uint32_t* bytesWritten) override {
    const Fault* fault = Begin(Operation::Write);
    if (fault && fault->status != kStatusOk) return Answer(fault->status);
    const FT_STATUS status = inner_.FT_Write(handle, buffer, bytesToWrite, bytesWritten);
    if (fault && fault->written) {
      *bytesWritten = *fault->written;
    }
    if (*bytesWritten < bytesToWrite) failed_ = true;
    return Answer(status);
  }
  FT_STATUS FT_GetBitMode(FT_HANDLE handle, std::uint8_t* pins) override {
    const Fault* fault = Begin(Operation::GetBitMode);
    if (fault && fault->status != kStatusOk) return Answer(fault->status);
    return Answer(inner_.FT_GetBitMode(handle, pins));
  }
  FT_STATUS FT_Close(FT_HANDLE handle) override {
    Note();
    return Answer(inner_.FT_Close(handle));
  }

  FT_STATUS FT_SetBaudRate(FT_HANDLE handle, std::uint32_t baudRate) override {
    return Stream(Operation::SetBaudRate,
                  [&] { return InnerStream().FT_SetBaudRate(handle, baudRate); });
  }
  FT_STATUS FT_SetLatencyTimer(FT_HANDLE handle, std::uint8_t milliseconds) override {
    return Stream(Operation::SetLatencyTimer,
                  [&] { return InnerStream().FT_SetLatencyTimer(handle, milliseconds); });
  }
  FT_STATUS FT_SetUSBParameters(FT_HANDLE handle, std::uint32_t in, std::uint32_t out) override {
    return Stream(Operation::SetUSBParameters,
                  [&] { return InnerStream().FT_SetUSBParameters(handle, in, out); });
  }
  FT_STATUS FT_Purge(FT_HANDLE handle, std::uint32_t mask) override {
    return Stream(Operation::Purge, [&] { return InnerStream().FT_Purge(handle, mask); });
  }
  FT_STATUS FT_GetQueueStatus(FT_HANDLE handle, std::uint32_t* bytesQueued) override {
    return Stream(Operation::GetQueueStatus,
                  [&] { return InnerStream().FT_GetQueueStatus(handle, bytesQueued); });
  }
  FT_STATUS FT_Read(FT_HANDLE handle, void* buffer, std::uint32_t bytesToRead,
                    std::uint32_t* bytesReturned) override {
    return Stream(Operation::Read, [&] {
      return InnerStream().FT_Read(handle, buffer, bytesToRead, bytesReturned);
    });
  }

  std::size_t Calls(Operation operation) const {
    return calls_[static_cast<std::size_t>(operation)];
  }

  std::size_t callsAfterFailure = 0;

 private:
  void Note() {
    if (failed_) ++callsAfterFailure;
  }
  // Counts the call, lets its stall pass and returns its fault, if any.
  const Fault* Begin(Operation operation) {
    Note();
    const std::size_t call = ++calls_[static_cast<std::size_t>(operation)];
    for (const Fault& fault : faults_) {
      if (fault.operation == operation && fault.call == call) {
        clock_.Wait(fault.stall);
        return &fault;
      }
    }
    return nullptr;
  }
  template <typename Call>
  FT_STATUS Stream(Operation operation, Call call) {
    const Fault* fault = Begin(operation);
    if (fault && fault->status != kStatusOk) return Answer(fault->status);
    return Answer(call());
  }
  FT_STATUS Answer(FT_STATUS status) {
    if (status != kStatusOk) failed_ = true;
    return status;
  }

  Clock& clock_;
  std::vector<Fault> faults_;
  std::array<std::size_t, static_cast<std::size_t>(Operation::kCount)> calls_{};
  bool failed_ = false;
};

}  // namespace capmeter::testing
