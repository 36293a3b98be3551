#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "device/arrival_event.h"
#include "device/device_list.h"
#include "device/driver_library.h"
#include "device/ft_types.h"
#include "device/sample_stream.h"

namespace capmeter {

// What every operation answers while the vendor's library is not bound.
// Non-zero, so the program takes it as a failed open, reset or close.
inline constexpr FT_STATUS kLibraryNotLoaded = 0x4C4E4C44;

// The vendor's D2XX driver library, bound by name at run time. It is loaded
// at the first call of any operation, so a machine without it still starts
// the program; a library that is missing or incomplete is reported once and
// then every operation fails with kLibraryNotLoaded and writes nothing.
//
// The six stream operations are optional: a library without them still
// binds for the five, and only SampleStreaming() is null. They are reached
// through SampleStreaming() alone, so a stream call always finds them bound.
// The three of the chip list are optional in the same way, through Devices().
class VendorLibrary final : public DriverLibrary, private SampleStream, private DeviceList {
 public:
  using LoadFailureReport = std::function<void(std::string_view message)>;

  // Names tried in order; the platform's default list when empty.
  explicit VendorLibrary(std::vector<std::string> libraryNames = {});
  ~VendorLibrary() override;  // unloads
  VendorLibrary(const VendorLibrary&) = delete;
  VendorLibrary& operator=(const VendorLibrary&) = delete;

  void SetLoadFailureReport(LoadFailureReport report);
  static std::vector<std::string> DefaultLibraryNames();
  const std::vector<std::string>& LibraryNames() const { return libraryNames_; }

  // Binds the library now, unless a call already tried; true when bound.
  bool EnsureLoaded() { return Bound() != nullptr; }
  // Once bound: the name that worked and, where the loader tells, the file
  // it found for it ("libftd2xx.so (/usr/local/lib/libftd2xx.so.1.2.3)").
  const std::string& LoadedFile() const { return loadedFile_; }
  // After a failed load: the library and the loader's reason, as reported.
  const std::string& LoadError() const { return loadError_; }

  FT_STATUS FT_Open(std::int32_t deviceIndex, FT_HANDLE* handle) override;
  FT_STATUS FT_SetBitMode(FT_HANDLE handle, std::uint8_t mask, std::uint8_t enable) override;
  FT_STATUS FT_Write(FT_HANDLE handle, const void* buffer, std::uint32_t bytesToWrite,
                     std::uint32_t* bytesWritten) override;
  FT_STATUS FT_GetBitMode(FT_HANDLE handle, std::uint8_t* pins) override;
  FT_STATUS FT_Close(FT_HANDLE handle) override;
  std::string StatusName(FT_STATUS status) const override;

  // Binds the library if no call tried yet; null when it did not bind or
  // lacks a stream operation.
  SampleStream* SampleStreaming() override;
  // "the driver library libftd2xx.so has no FT_Read", or why it is not bound.
  std::string WhyNoSampleStream() const override;

  // Binds the library if no call tried yet; null when it did not bind or
  // lacks a list operation.
  DeviceList* Devices() override;
  // "the driver library libftd2xx.so has no FT_OpenEx", or why it is not bound.
  std::string WhyNoDeviceList() const override;

  // The device type FT_GetDeviceInfoDetail reports for the entry holding
  // `handle`; where the library has no list, or lists no such entry, the
  // fallback family, said so.
  FamilyReport FamilyOf(FT_HANDLE handle) override;

 private:
  struct Binding;  // the loaded library and its entry points

  FT_STATUS FT_SetBaudRate(FT_HANDLE handle, std::uint32_t baudRate) override;
  FT_STATUS FT_SetLatencyTimer(FT_HANDLE handle, std::uint8_t milliseconds) override;
  FT_STATUS FT_SetUSBParameters(FT_HANDLE handle, std::uint32_t inTransferSize,
                                std::uint32_t outTransferSize) override;
  FT_STATUS FT_Purge(FT_HANDLE handle, std::uint32_t mask) override;
  FT_STATUS FT_GetQueueStatus(FT_HANDLE handle, std::uint32_t* bytesQueued) override;
  FT_STATUS FT_Read(FT_HANDLE handle, void* buffer, std::uint32_t bytesToRead,
                    std::uint32_t* bytesReturned) override;
  // On the event FT_SetEventNotification signals as samples arrive, where
  // the library has it and takes it for the handle; else false.
  bool WaitForSamples(FT_HANDLE handle, std::chrono::nanoseconds most) override;

  FT_STATUS FT_CreateDeviceInfoList(std::uint32_t* count) override;
  FT_STATUS FT_GetDeviceInfoDetail(std::uint32_t index, DeviceInfo* info) override;
  // Only kOpenBySerialNumber; any other `openBy` fails without a call.
  FT_STATUS FT_OpenEx(const std::string& serialNumber, std::uint32_t openBy,
                      FT_HANDLE* handle) override;

  // Why an optional group of operations is missing: `missing`, the first
  // one the bound library lacks, or why nothing is bound; empty when none.
  std::string WhyMissing(const char* missing) const;

  // The binding, loading it on the first call only; null when unbound.
  const Binding* Bound();
  void Load();

  std::vector<std::string> libraryNames_;
  LoadFailureReport report_;
  bool loadAttempted_ = false;
  // The event the library signals, for the handle it was set on; it
  // outlives the binding, so the library never signals one gone.
  std::unique_ptr<ArrivalEvent> arrival_;
  FT_HANDLE arrivalFor_ = nullptr;
  std::unique_ptr<Binding> binding_;
  std::string loadedFile_;
  std::string loadError_;
};

}  // namespace capmeter
