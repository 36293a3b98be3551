#include "cli/usb_check.h"

#include <gtest/gtest.h>

#include <string>

namespace capmeter::cli {
namespace {

struct FailureCase {
  FT_STATUS status;
  const char* advice;  // what the words must hold besides libusb's name
};

// A denied open names the command that allows this very device; a busy one
// says another program holds it; a status with nothing to add gets no advice.
const FailureCase kFailureCases[] = {
    {usb_status::kAccessDenied, "\"sudo capmeter-allow-device 1234:5678\""},
    {usb_status::kBusy, "another program holds the chip"},
    {usb_status::kDeviceGone, ""},
};

TEST(UsbCheck, AFailedOpenSaysWhatToDo) {
  for (const FailureCase& c : kFailureCases) {
    const std::string words = WhyUsbOpenFailed(c.status, UsbId{0x1234, 0x5678});
    SCOPED_TRACE(words);
    EXPECT_EQ(words.rfind(DirectUsb::StatusName(c.status), 0), 0U);
    if (*c.advice == '\0') {
      EXPECT_EQ(words, DirectUsb::StatusName(c.status));
    } else {
      EXPECT_NE(words.find(c.advice), std::string::npos);
    }
  }
}

}  // namespace
}  // namespace capmeter::cli
