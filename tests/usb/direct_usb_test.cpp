// The direct USB driver over libusb, on an emulated chip (tests/usb/emulated_chip.h):
// the driver contract, the requests each operation sends, and what a fault
// answers with. Runs with libumockdev-preload, which ctest puts in place.

#include "device/direct_usb.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "tests/device/driver_contract.h"
#include "tests/usb/emulated_chip.h"

namespace capmeter {
namespace {

using testing::EmulatedChip;
using testing::UsbTransfer;

struct DirectUsbBackend {
  EmulatedChip chip;
  DirectUsb usb{UsbId{0x1234, 0x5678}};

  DriverLibrary& Library() { return usb; }
  void Disconnect() { chip.Disconnect(); }
  void Unplug() { chip.Unplug(); }
};

INSTANTIATE_TYPED_TEST_SUITE_P(DirectUsbOnEmulatedChip, DriverContract, DirectUsbBackend);

UsbTransfer ToDevice(std::uint8_t request, std::uint16_t value) {
  return {0, 0x40, request, value, 1, 0, {}};
}

// What each operation puts on the bus, in order, after the open.
struct RequestCase {
  const char* name;
  std::function<FT_STATUS(DriverLibrary&, FT_HANDLE)> call;
  std::vector<UsbTransfer> expected;
};

const std::uint8_t kTwoBytes[] = {0x31, 0x35};

const RequestCase kRequestCases[] = {
    {"bit-bang on",
     [](DriverLibrary& l, FT_HANDLE h) { return l.FT_SetBitMode(h, 0xFD, 0xFF); },
     {ToDevice(0x0B, 0xFFFD)}},
    {"bit-bang off",
     [](DriverLibrary& l, FT_HANDLE h) { return l.FT_SetBitMode(h, 0x00, 0x00); },
     {ToDevice(0x0B, 0x0000)}},
    {"another enable value passes through",
     [](DriverLibrary& l, FT_HANDLE h) { return l.FT_SetBitMode(h, 0x0F, 0x04); },
     {ToDevice(0x0B, 0x040F)}},
    {"two pin states, one bulk OUT transfer",
     [](DriverLibrary& l, FT_HANDLE h) {
       std::uint32_t written = 0;
       return l.FT_Write(h, kTwoBytes, 2, &written);
     },
     {{0x02, 0, 0, 0, 0, 0, {0x31, 0x35}}}},
    {"pin read",
     [](DriverLibrary& l, FT_HANDLE h) {
       std::uint8_t pins = 0;
       return l.FT_GetBitMode(h, &pins);
     },
     {{0, 0xC0, 0x0C, 0, 1, 1, {}}}},
};

TEST(DirectUsbRequests, OpenResetsThePortAndPurgesBothBuffers) {
  EmulatedChip chip;
  DirectUsb usb({0x1234, 0x5678});
  FT_HANDLE handle = nullptr;
  ASSERT_EQ(usb.FT_Open(0, &handle), kStatusOk);
  EXPECT_EQ(chip.Transfers(),
            (std::vector<UsbTransfer>{ToDevice(0x00, 0), ToDevice(0x00, 1), ToDevice(0x00, 2)}));
}

TEST(DirectUsbRequests, EachOperationSendsItsOwnRequest) {
  for (const RequestCase& c : kRequestCases) {
    SCOPED_TRACE(c.name);
    EmulatedChip chip;
    DirectUsb usb({0x1234, 0x5678});
    FT_HANDLE handle = nullptr;
    ASSERT_EQ(usb.FT_Open(0, &handle), kStatusOk);
    chip.ForgetTransfers();
    EXPECT_EQ(c.call(usb, handle), kStatusOk);
    EXPECT_EQ(chip.Transfers(), c.expected);
  }
}

// The open takes the chip from the kernel's driver, the close gives it back.
TEST(DirectUsbKernelDriver, DetachedWhileOpenAndBackAfterTheClose) {
  EmulatedChip chip;
  DirectUsb usb({0x1234, 0x5678});
  FT_HANDLE handle = nullptr;
  ASSERT_EQ(usb.FT_Open(0, &handle), kStatusOk);
  EXPECT_EQ(usb.LastOpened().detachedDriver, "emulated_serial");
  EXPECT_EQ(usb.LastOpened().deviceNode, "/dev/bus/usb/001/002");
  EXPECT_EQ(chip.BoundDriver(), "");
  ASSERT_EQ(usb.FT_Close(handle), kStatusOk);
  EXPECT_EQ(chip.BoundDriver(), "emulated_serial");
}

// Each cause of failure keeps its own status, and the trace can name it.
struct FaultCase {
  const char* name;
  std::function<void(EmulatedChip&)> beforeOpen;
  bool unplugAfterOpen;
  const char* statusName;
};

const FaultCase kFaultCases[] = {
    {"no device with the ID", [](EmulatedChip& c) { c.Disconnect(); }, false, "no such device"},
    {"another program holds it", [](EmulatedChip& c) { c.HoldElsewhere(); }, false, "busy"},
    {"unplugged after the open", [](EmulatedChip&) {}, true, "device gone"},
};

TEST(DirectUsbFaults, EachCauseHasAStatusOfItsOwn) {
  std::vector<FT_STATUS> seen;
  for (const FaultCase& c : kFaultCases) {
    SCOPED_TRACE(c.name);
    EmulatedChip chip;
    DirectUsb usb({0x1234, 0x5678});
    c.beforeOpen(chip);
    FT_HANDLE handle = nullptr;
    FT_STATUS status = usb.FT_Open(0, &handle);
    if (c.unplugAfterOpen) {
      ASSERT_EQ(status, kStatusOk);
      chip.Unplug();
      std::uint8_t pins = 0;
      status = usb.FT_GetBitMode(handle, &pins);
    }
    EXPECT_EQ(usb.StatusName(status), c.statusName);
    for (const FT_STATUS other : seen) EXPECT_NE(status, other);
    seen.push_back(status);
  }
}

}  // namespace
}  // namespace capmeter
