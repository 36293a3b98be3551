#pragma once

#include <cstdint>
#include <string>

#include "device/chip_family.h"
#include "device/device_list.h"
#include "device/ft_types.h"
#include "device/sample_stream.h"

namespace capmeter {

// The five operations of the vendor's driver library that the program uses,
// and what every implementation must do on each call. Implementations: the
// binding to the real library (VendorLibrary), the chip reached directly over
// libusb (DirectUsb) and the simulated chip (sim/SimulatedChip);
// tests/device/driver_contract.h checks each of them against this contract.
//
// Status: 0 (kStatusOk) is success, any other value failure; callers tell
// only zero from non-zero, so an implementation may choose its own codes.
// A failing call changes nothing it was handed: the receiving handle, pin
// byte and written count keep whatever the caller put there.
// A handle that no successful FT_Open handed out, or one already closed, is
// invalid: every operation on it fails (FT_Close included) and touches
// neither the device nor the receiving arguments. So does every operation
// once the device has been unplugged.
//
// Operation      Arguments                           On success
// FT_Open        device index (0 = first);           fills *handle with a valid handle
//                receives the handle
// FT_SetBitMode  handle; direction mask (bit set =   enable != 0: bit-bang mode on, the
//                output); enable value               masked pins drive the written bits;
//                                                    mask 0 and enable 0: leaves the mode
// FT_Write       handle; bytes; count; receives     drives the bytes on the output pins
//                the count written                   in order; *bytesWritten = count
// FT_GetBitMode  handle; receives the pin byte       *pins = present level of D0 to D7
//                                                    (bit n = Dn), outputs included
// FT_Close       handle                              the handle becomes invalid
class DriverLibrary {
 public:
  virtual ~DriverLibrary() = default;

  // Opens device number `deviceIndex`; on success fills *handle. Fails when
  // no such device is connected.
  virtual FT_STATUS FT_Open(std::int32_t deviceIndex, FT_HANDLE* handle) = 0;
  // Bit-bang mode: `mask` bit set = output pin; `enable` 0 leaves the mode.
  virtual FT_STATUS FT_SetBitMode(FT_HANDLE handle, std::uint8_t mask, std::uint8_t enable) = 0;
  // Writes `bytesToWrite` bytes from `buffer`; *bytesWritten receives how
  // many reached the pins (the caller treats fewer than asked as a failure).
  virtual FT_STATUS FT_Write(FT_HANDLE handle, const void* buffer, std::uint32_t bytesToWrite,
                             std::uint32_t* bytesWritten) = 0;
  // The instantaneous levels of pins D0 to D7 into *pins (bit n = Dn).
  virtual FT_STATUS FT_GetBitMode(FT_HANDLE handle, std::uint8_t* pins) = 0;
  // Closes the device; the handle is invalid afterwards.
  virtual FT_STATUS FT_Close(FT_HANDLE handle) = 0;

  // The driver's own words for one of its failure statuses ("device gone"),
  // for messages and the trace; empty when it has none for `status`.
  virtual std::string StatusName(FT_STATUS /*status*/) const { return {}; }

  // The pins streamed on the chip's own clock (device/sample_stream.h), when
  // this driver can; null otherwise, and WhyNoSampleStream() says why. May
  // bind the driver to find out.
  virtual SampleStream* SampleStreaming() { return nullptr; }
  virtual std::string WhyNoSampleStream() const { return "this driver cannot stream the pins"; }

  // The list of connected chips and the open by serial number
  // (device/device_list.h), when this driver can; null otherwise, and
  // WhyNoDeviceList() says why. May bind the driver to find out.
  virtual DeviceList* Devices() { return nullptr; }
  virtual std::string WhyNoDeviceList() const { return "this driver cannot list the chips"; }
  // Which chip family the chip open on `handle` is (device/chip_family.h),
  // as far as this driver can tell; otherwise the fallback family, with why.
  virtual FamilyReport FamilyOf(FT_HANDLE /*handle*/) {
    return {&FallbackFamily(), false, "this driver does not say which chip it has"};
  }
};

// A status as people read it: "status 4 (I/O error)", or "status 7" when the
// driver has no words for it.
std::string StatusText(const DriverLibrary& driver, FT_STATUS status);

// Words for the failure statuses the vendor's library documents; the
// simulated chip answers with the same codes. Empty for any other status.
std::string VendorStatusName(FT_STATUS status);

}  // namespace capmeter
