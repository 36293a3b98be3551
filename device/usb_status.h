#pragma once

#include <libusb.h>

#include "device/direct_usb.h"

// How the direct USB driver turns libusb's errors into its statuses; for its
// own sources only.
namespace capmeter::usb {

inline FT_STATUS Status(int libusbError) {
  return libusbError >= 0 ? kStatusOk : kUsbStatusBase + static_cast<FT_STATUS>(-libusbError);
}

inline FT_STATUS TransferFailure(libusb_transfer_status status) {
  switch (status) {
    case LIBUSB_TRANSFER_NO_DEVICE:
      return Status(LIBUSB_ERROR_NO_DEVICE);
    case LIBUSB_TRANSFER_TIMED_OUT:
      return Status(LIBUSB_ERROR_TIMEOUT);
    case LIBUSB_TRANSFER_STALL:
      return Status(LIBUSB_ERROR_PIPE);
    case LIBUSB_TRANSFER_OVERFLOW:
      return Status(LIBUSB_ERROR_OVERFLOW);
    default:
      return Status(LIBUSB_ERROR_IO);
  }
}

// What heads every IN packet before the samples.
inline constexpr int kModemStatusBytes = 2;

}  // namespace capmeter::usb
