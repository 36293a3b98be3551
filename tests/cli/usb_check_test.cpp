#include "cli/usb_check.h"

#include <gtest/gtest.h>

namespace capmeter::cli {
namespace {

struct FailureCase {
  FT_STATUS status;
  const char* words;  // what check must say, whole
};

// A denied open names the exact command that allows the device; a busy one
// says another program holds it; the rest say libusb's name and no more.
const FailureCase kFailureCases[] = {
    {usb_status::kAccessDenied,
     "LIBUSB_ERROR_ACCESS: permission denied. Allow the device to your user with \"sudo "
     "capmeter-allow-device 1234:5678\", then unplug the chip and plug it in again"},
    {usb_status::kBusy,
     "LIBUSB_ERROR_BUSY: another program holds the chip; end it, or unplug the chip and plug it "
     "in again"},
    {usb_status::kDeviceGone, "LIBUSB_ERROR_NO_DEVICE"},
};

TEST(UsbCheck, AFailedOpenSaysWhatToDo) {
  for (const FailureCase& c : kFailureCases) {
    SCOPED_TRACE(c.status);
    EXPECT_EQ(WhyUsbOpenFailed(c.status, UsbId{0x1234, 0x5678}), c.words);
  }
}

}  // namespace
}  // namespace capmeter::cli
