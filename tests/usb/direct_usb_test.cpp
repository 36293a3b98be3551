// The direct USB driver over libusb, on an emulated chip (tests/usb/emulated_chip.h):
// the driver, sample stream and chip list contracts, the requests each operation
// sends, streamed readings, and what a fault answers with. Runs with
// libumockdev-preload, which ctest puts in place.

#include "device/direct_usb.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "device/device_link.h"
#include "device/link_messages.h"
#include "measurement/stream_timing.h"
#include "tests/device/device_list_contract.h"
#include "tests/device/driver_contract.h"
#include "tests/device/sample_stream_contract.h"
#include "tests/support/recording_display.h"
#include "tests/usb/emulated_chip.h"

namespace capmeter {
namespace {

using testing::EmulatedBus;
using testing::EmulatedChip;
using testing::UsbTransfer;

struct DirectUsbBackend {
  EmulatedChip chip;
  DirectUsb usb{UsbId{0x1234, 0x5678}};

  DriverLibrary& Library() { return usb; }
  void Disconnect() { chip.Disconnect(); }
  void Unplug() { chip.Unplug(); }
  // The samples come on the real clock; waiting is how they come.
  void Pass(std::chrono::nanoseconds span) { std::this_thread::sleep_for(span); }
};

INSTANTIATE_TYPED_TEST_SUITE_P(DirectUsbOnEmulatedChip, DriverContract, DirectUsbBackend);
INSTANTIATE_TYPED_TEST_SUITE_P(DirectUsbOnEmulatedChip, SampleStreamContract, DirectUsbBackend);

struct DirectUsbOnTwoChips {
  EmulatedBus bus{2};
  DirectUsb usb{UsbId{0x1234, 0x5678}};

  DriverLibrary& Library() { return usb; }
  std::vector<std::string> Serials() const { return bus.Serials(); }
  void Disconnect() { bus.Disconnect(); }
};

INSTANTIATE_TYPED_TEST_SUITE_P(DirectUsbOnEmulatedChips, DeviceListContract, DirectUsbOnTwoChips);

// The contract leaves where a chip sits and what it is to the driver; here
// the second chip must not be told as the first.
TEST(DirectUsbList, EachChipIsToldByItsPortAndProduct) {
  DirectUsbOnTwoChips chips;
  std::uint32_t count = 0;
  ASSERT_EQ(chips.usb.FT_CreateDeviceInfoList(&count), kStatusOk);
  ASSERT_EQ(count, 2U);
  std::vector<DeviceInfo> listed(count);
  for (std::uint32_t i = 0; i < count; ++i) {
    ASSERT_EQ(chips.usb.FT_GetDeviceInfoDetail(i, &listed[i]), kStatusOk);
    EXPECT_EQ(listed[i].location, "bus 1, port " + std::to_string(i + 1));
    EXPECT_EQ(listed[i].description, EmulatedChip::kProduct);
    EXPECT_EQ(listed[i].flags, 0U);  // full speed, and not open
  }
  EXPECT_NE(listed[0].locId, listed[1].locId);
}

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
    {"latency timer",
     [](DriverLibrary& l, FT_HANDLE h) { return l.SampleStreaming()->FT_SetLatencyTimer(h, 2); },
     {ToDevice(0x09, 2)}},
    // 1 clears what goes to the chip, 2 what comes from it.
    {"both directions purged",
     [](DriverLibrary& l, FT_HANDLE h) {
       return l.SampleStreaming()->FT_Purge(h, kPurgeReceive | kPurgeTransmit);
     },
     {ToDevice(0x00, 1), ToDevice(0x00, 2)}},
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

// SET_BAUD_RATE for rates whose divisor (whole part and eighths) and clock
// the open-source driver libraries' tests list, put into wValue and wIndex
// by hand: the whole part in bits 0 to 13, the eighths' code in bits 14 to
// 16 (16 in wIndex), bit 17 for the 12 MHz clock; the high-speed family
// keeps the port in wIndex's low byte and the upper bits above it.
struct BaudCase {
  std::uint16_t bcdDevice;
  std::uint32_t baud;
  std::uint16_t value;
  std::uint16_t index;
};

const BaudCase kBaudCases[] = {
    {0x0600, 300, 0x2710, 0x0000},      // 10000
    {0x0600, 9600, 0x4138, 0x0000},     // 312 4/8
    {0x0600, 38400, 0xC04E, 0x0000},    // 78 1/8
    {0x0600, 184, 0x3FB0, 0x0001},      // 16304 3/8
    {0x0600, 1050000, 0xC002, 0x0001},  // 2 7/8
    {0x0600, 2000000, 0x0001, 0x0000},  // 1: 2 MBaud
    {0x0600, 3000000, 0x0000, 0x0000},  // 0: 3 MBaud
    {0x0900, 9600, 0x04E2, 0x0201},     // 1250 of 12 MHz
    {0x0900, 57600, 0x00D0, 0x0301},    // 208 3/8 of 12 MHz
    {0x0900, 300, 0x2710, 0x0001},      // 10000 of 3 MHz: too slow for 12
    // 1 MS/s on each kind of family: 48 of 3 MHz; 60 of 12 MHz, bit 17 and
    // the port in wIndex.
    {0x0600, 62500, 0x0030, 0x0000},
    {0x1000, 62500, 0x0030, 0x0000},
    {0x0900, 200000, 0x003C, 0x0201},
    // The oldest chip has no 7/8: 2 7/8 goes up to 3.
    {0x0200, 1050000, 0x0003, 0x0000},
};

TEST(DirectUsbRequests, TheBaudDivisorIsInTheChipFamilysEncoding) {
  for (const BaudCase& c : kBaudCases) {
    SCOPED_TRACE(::testing::Message() << c.baud << " baud");
    EmulatedChip chip({}, c.bcdDevice);
    DirectUsb usb({0x1234, 0x5678});
    FT_HANDLE handle = nullptr;
    ASSERT_EQ(usb.FT_Open(0, &handle), kStatusOk);
    chip.ForgetTransfers();
    EXPECT_EQ(usb.FT_SetBaudRate(handle, c.baud), kStatusOk);
    EXPECT_EQ(chip.Transfers(),
              (std::vector<UsbTransfer>{{0, 0x40, 0x03, c.value, c.index, 0, {}}}));
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

// 1.1 x 100 kOhm x 470 nF = 51.7 ms: 20680 samples at 400 kHz, in
// transfers of 63 full-speed packets or 7 high-speed ones.
constexpr CircuitParts kPart{100e3, 470e-9};
constexpr double kRate = 4e5;

// The host's clock for readings on the emulated bus. MonotonicClock spins
// through a reading's waits, taking a core from the emulator's threads on a
// busy two-core machine; this one sleeps through them.
class SleepingClock final : public Clock {
 public:
  Duration Now() override { return monotonic_.Now(); }
  void Wait(Duration span) override { std::this_thread::sleep_for(span); }

 private:
  MonotonicClock monotonic_;
};

class DirectUsbStream : public ::testing::TestWithParam<std::uint16_t> {};

// Status bytes left in the samples would count as samples, and their D1 low
// would end the charge at the next packet.
TEST_P(DirectUsbStream, AStreamedReadingIsTheChargeTimeWithinOnePercent) {
  EmulatedChip chip(kPart, GetParam());
  DirectUsb usb({0x1234, 0x5678});
  FT_HANDLE handle = nullptr;
  ASSERT_EQ(usb.FT_Open(0, &handle), kStatusOk);
  SleepingClock clock;
  // A second, not the programs' quarter: the full-speed transfers come every
  // 10 ms, and on a busy machine one that is read a millisecond late moves
  // a quarter second's fit by up to a percent.
  RateMeasurement rate;
  rate.failure = "not measured yet";
  for (int attempt = 0; attempt < 3 && !rate.Measured(); ++attempt) {
    rate = MeasureSampleRate(handle, usb, clock, kRate, std::chrono::seconds(1));
  }
  ASSERT_TRUE(rate.Measured()) << rate.failure;
  // The family's divisor, read as its silicon reads it, gives the rate asked.
  EXPECT_NEAR(rate.rate, kRate, 0.01 * kRate);
  testing::EventLog log;
  testing::RecordingDisplay display(log);

  // The emulated chip samples on a thread of its own, which a loaded
  // machine can starve as no real chip is: its stream then pauses, and
  // that is caught, never read as a time. Another try gets a clean one.
  MeasureResult result;
  for (int attempt = 0; attempt < 3; ++attempt) {
    result = MeasureByStream(handle, usb, display, clock, {kRate, rate.rate});
    if (result.HasTime() || result.failure.find("paused") == std::string::npos) break;
  }

  ASSERT_EQ(result.outcome, MeasureOutcome::ChargeTime) << result.failure;
  const double expected = 1.1 * kPart.resistanceOhms * kPart.capacitanceFarads;
  EXPECT_NEAR(result.seconds, expected, 0.01 * expected);
}

INSTANTIATE_TEST_SUITE_P(Packets, DirectUsbStream, ::testing::Values(0x1000, 0x0900),
                         [](const auto& info) { return "Family" + BcdText(info.param).substr(2); });

// A host that fell a second behind fills the read-ahead, which then queues
// nothing; once the host takes the samples, the transfers go out again and
// the event thread, asleep while none was queued, is woken to reap them.
TEST(DirectUsbStreamFaults, TheReadAheadResumesOnceTheHostTakesItsSamples) {
  EmulatedChip chip(kPart, 0x0900);
  DirectUsb usb({0x1234, 0x5678});
  FT_HANDLE handle = nullptr;
  ASSERT_EQ(usb.FT_Open(0, &handle), kStatusOk);
  const StreamPlan plan = PlanStream(handle, usb, 12e6);  // fills in about 90 ms
  ASSERT_EQ(usb.FT_SetBitMode(handle, kDirectionMask, kAsyncBitBang), kStatusOk);
  ASSERT_EQ(usb.FT_SetUSBParameters(handle, plan.transferBytes, plan.transferBytes), kStatusOk);
  ASSERT_EQ(usb.FT_SetBaudRate(handle, plan.baud), kStatusOk);
  const auto queued = [&] {
    std::uint32_t bytes = 0;
    EXPECT_EQ(usb.FT_GetQueueStatus(handle, &bytes), kStatusOk);
    return bytes;
  };
  // Waits for the stream, not for a time: the limit only ends a test that failed.
  const auto within = [](const std::function<bool()>& done) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!done() && std::chrono::steady_clock::now() < limit) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return done();
  };
  ASSERT_TRUE(within([&] { return queued() + plan.transferBytes > DirectUsb::kReadAheadBytes; }));

  std::vector<std::uint8_t> buffer(DirectUsb::kReadAheadBytes);
  std::uint32_t got = 0;
  ASSERT_EQ(usb.FT_Read(handle, buffer.data(), queued(), &got), kStatusOk);
  ASSERT_GT(got, 0U);

  EXPECT_TRUE(within([&] { return queued() > 0; })) << "the stream stayed stopped";
  EXPECT_EQ(usb.FT_Close(handle), kStatusOk);
}

TEST(DirectUsbStreamFaults, AStreamThatPausesIsAReadError) {
  EmulatedChip chip(kPart);
  DirectUsb usb({0x1234, 0x5678});
  FT_HANDLE handle = nullptr;
  ASSERT_EQ(usb.FT_Open(0, &handle), kStatusOk);
  SleepingClock clock;
  testing::EventLog log;
  testing::RecordingDisplay display(log);
  // Far beyond the chip's FIFO (0.6 ms) and what a healthy stream may have
  // in flight (23 ms at 400 kHz).
  chip.StopAnsweringIn(std::chrono::milliseconds(500));

  const MeasureResult result = MeasureByStream(handle, usb, display, clock, {kRate, kRate});

  EXPECT_EQ(result.outcome, MeasureOutcome::ReadError);
  EXPECT_NE(result.failure.find("the sample stream paused"), std::string::npos) << result.failure;
}

TEST(DirectUsbStreamFaults, AnUnplugMidStreamIsAReadErrorAndTheLinkStillLetsGo) {
  EmulatedChip chip;  // a charge of 517 ms
  DirectUsb usb({0x1234, 0x5678});
  SleepingClock clock;
  testing::EventLog log;
  testing::RecordingDisplay display(log);
  DeviceLink link;
  ASSERT_EQ(OpenLink(link, usb, display), kStatusOk);
  chip.UnplugAfter(std::chrono::milliseconds(100));

  const MeasureResult result = MeasureByStream(link.lngHandle, usb, display, clock, {kRate, kRate});
  display.messages.clear();
  CloseLink(link, usb, display);

  EXPECT_EQ(result.outcome, MeasureOutcome::ReadError);
  EXPECT_NE(result.failure.find("(device gone)"), std::string::npos) << result.failure;
  // Both steps still ran, and failed as they must on a chip that is gone.
  EXPECT_EQ(display.messages, (std::vector<std::string>{std::string(link_messages::kResetFailed),
                                                        std::string(link_messages::kCloseFailed)}));
}

}  // namespace

}  // namespace capmeter
