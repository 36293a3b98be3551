#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "device/device_list.h"
#include "device/driver_library.h"
#include "device/ft_types.h"
#include "device/sample_stream.h"
#include "device/usb_id.h"

struct libusb_device;

namespace capmeter {

// Statuses of the direct driver: 0 for success, else this base plus the
// magnitude of libusb's error code, so every cause keeps a status of its own.
inline constexpr FT_STATUS kUsbStatusBase = 1000;
namespace usb_status {
inline constexpr FT_STATUS kIoError = 1001;
inline constexpr FT_STATUS kAccessDenied = 1003;
inline constexpr FT_STATUS kDeviceGone = 1004;
inline constexpr FT_STATUS kNoSuchDevice = 1005;  // none with the ID, or not that many
inline constexpr FT_STATUS kBusy = 1006;
inline constexpr FT_STATUS kTimedOut = 1007;
}  // namespace usb_status

// The chip reached straight through libusb-1.0, without the vendor's library:
// the chip's own vendor requests on its first interface, the pin states as
// bulk data. Opening takes the chip from the kernel's driver for as long as
// it is open; closing gives it back.
//
// It streams the pins too (device/sample_stream.h): from the first stream
// call on, a read-ahead of its own (device/usb_read_ahead.h) keeps bulk IN
// transfers queued and holds what they bring for FT_Read. Polling alone
// never starts it. The chip's family comes from its bcdDevice
// (device/chip_family.h) and decides the baud divisor it is sent.
//
// It lists the chips with its ID too (device/device_list.h), each with its
// product string as the description, its serial number string and where it
// sits. Listing opens each chip for a moment to read them, all but the one
// this driver has open, whose strings were read at its open.
class DirectUsb final : public DriverLibrary, public SampleStream, public DeviceList {
 public:
  // What the read-ahead holds at most: about a second of samples at 1 MHz.
  static constexpr std::size_t kReadAheadBytes = std::size_t{1} << 20;
  // Each IN transfer's size until FT_SetUSBParameters sets it, as the
  // vendor's driver has it.
  static constexpr std::uint32_t kDefaultInTransferSize = 4096;

  explicit DirectUsb(UsbId id);
  ~DirectUsb() override;  // closes a device still open and ends the libusb session
  DirectUsb(const DirectUsb&) = delete;
  DirectUsb& operator=(const DirectUsb&) = delete;

  UsbId Id() const { return id_; }
  // "1.0.26.11724"
  static std::string LibraryVersion();

  // The devices on the bus, for bring-up: how many carry the ID, and the ID
  // of every device present.
  struct Survey {
    FT_STATUS status = kStatusOk;
    std::size_t matching = 0;
    std::vector<UsbId> present;
  };
  Survey Look();

  // What the last successful open found: the device node ("/dev/bus/usb/001/002")
  // and the kernel driver it took the chip from, empty when none held it.
  struct Opened {
    std::string deviceNode;
    std::string detachedDriver;
  };
  const Opened& LastOpened() const { return opened_; }

  // Opens the deviceIndex-th device with the ID (0 the first).
  FT_STATUS FT_Open(std::int32_t deviceIndex, FT_HANDLE* handle) override;
  FT_STATUS FT_SetBitMode(FT_HANDLE handle, std::uint8_t mask, std::uint8_t enable) override;
  FT_STATUS FT_Write(FT_HANDLE handle, const void* buffer, std::uint32_t bytesToWrite,
                     std::uint32_t* bytesWritten) override;
  FT_STATUS FT_GetBitMode(FT_HANDLE handle, std::uint8_t* pins) override;
  // Releases the interface (the kernel's driver comes back) and closes.
  FT_STATUS FT_Close(FT_HANDLE handle) override;
  // libusb's cause in words ("device gone"); empty for any other status.
  std::string StatusName(FT_STATUS status) const override;
  SampleStream* SampleStreaming() override { return this; }
  DeviceList* Devices() override { return this; }

  // The chip's family, from the bcdDevice read at the open.
  FamilyReport FamilyOf(FT_HANDLE handle) override;

  // The divisor for the baud rate as the vendor's library chooses it for
  // the chip's family (EncodeBaud).
  FT_STATUS FT_SetBaudRate(FT_HANDLE handle, std::uint32_t baudRate) override;
  FT_STATUS FT_SetLatencyTimer(FT_HANDLE handle, std::uint8_t milliseconds) override;
  // The IN size, rounded down to whole packets, applies from each
  // transfer's next turn; FT_Write sends a block as one transfer whatever
  // the OUT size.
  FT_STATUS FT_SetUSBParameters(FT_HANDLE handle, std::uint32_t inTransferSize,
                                std::uint32_t outTransferSize) override;
  FT_STATUS FT_Purge(FT_HANDLE handle, std::uint32_t mask) override;
  FT_STATUS FT_GetQueueStatus(FT_HANDLE handle, std::uint32_t* bytesQueued) override;
  FT_STATUS FT_Read(FT_HANDLE handle, void* buffer, std::uint32_t bytesToRead,
                    std::uint32_t* bytesReturned) override;
  // Each IN transfer's samples, timed in the event thread as they landed.
  bool TakeArrivals(FT_HANDLE handle, std::vector<SampleArrival>& into) override;
  // Woken by the read-ahead as each transfer lands.
  bool WaitForSamples(FT_HANDLE handle, std::chrono::nanoseconds most) override;

  // The chips with the ID in FT_Open's order. A chip that cannot be opened
  // to read its strings, or has none, is listed with empty texts. locId is
  // the bus in bits 24 to 31, then the first three port numbers on the way
  // to the chip a byte each, 0 past the last.
  FT_STATUS FT_CreateDeviceInfoList(std::uint32_t* count) override;
  FT_STATUS FT_GetDeviceInfoDetail(std::uint32_t index, DeviceInfo* info) override;
  // Takes a fresh list and opens the chip with exactly that serial number,
  // as FT_Open does.
  FT_STATUS FT_OpenEx(const std::string& serialNumber, std::uint32_t openBy,
                      FT_HANDLE* handle) override;

 private:
  struct Session;  // libusb's context
  struct Device;   // the open device

  FT_STATUS StartSession();
  // The open device if `handle` is its handle; null otherwise.
  Device* Find(FT_HANDLE handle) const;
  // Opens the first device with the ID that `wanted` picks, given it and
  // its index among them.
  FT_STATUS OpenFirst(const std::function<bool(libusb_device*, std::size_t)>& wanted,
                      FT_HANDLE* handle);
  DeviceInfo Describe(libusb_device* device) const;

  UsbId id_;
  std::unique_ptr<Session> session_;
  std::unique_ptr<Device> device_;
  std::uintptr_t opens_ = 0;
  Opened opened_;
  std::vector<DeviceInfo> listed_;  // the last FT_CreateDeviceInfoList's
};

}  // namespace capmeter
