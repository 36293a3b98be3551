#include "device/device_link.h"

#include <gtest/gtest.h>

#include <functional>

#include "device/link_messages.h"
#include "sim/simulated_chip.h"
#include "sim/virtual_clock.h"
#include "tests/support/recording_display.h"
#include "tests/support/recording_driver.h"

namespace capmeter {
namespace {

using testing::EventLog;
using testing::RecordingDisplay;
using testing::RecordingDriver;

struct LifecycleCase {
  const char* name;
  std::function<void(SimulatedChip&)> fault;
  std::vector<std::string> messages;
};

class DeviceLinkLifecycle : public ::testing::TestWithParam<LifecycleCase> {};

TEST_P(DeviceLinkLifecycle, ShowsTheMessagesInOrderAndAlwaysCallsResetAndClose) {
  VirtualClock clock;
  SimulatedChip chip(clock);
  GetParam().fault(chip);
  EventLog log;
  RecordingDriver driver(chip, log);
  RecordingDisplay display(log);
  DeviceLink link;

  OpenLink(link, driver, display);
  CloseLink(link, driver, display);

  EXPECT_EQ(display.messages, GetParam().messages);
  ASSERT_EQ(log.size(), 3 + display.messages.size());
  EXPECT_EQ(log[0].rfind("FT_Open index=0", 0), 0U);
  EXPECT_EQ(log[1], "ShowMessage " + display.messages[0]);
  EXPECT_EQ(log[2].rfind("FT_SetBitMode mask=00 enable=00", 0), 0U);
  EXPECT_EQ(log.back(), "ShowMessage " + display.messages.back());
  EXPECT_NE(std::find_if(log.begin(), log.end(),
                         [](const std::string& e) { return e.rfind("FT_Close", 0) == 0; }),
            log.end());
  // Every later call uses the handle as the open left it: none after a
  // failed open.
  const bool opened = log[0].ends_with("-> 0");
  for (const FT_HANDLE handle : driver.handles) {
    EXPECT_EQ(handle, opened ? SimulatedChip::Handle() : nullptr);
  }
}

using namespace link_messages;
INSTANTIATE_TEST_SUITE_P(
    Runs, DeviceLinkLifecycle,
    ::testing::Values(
        LifecycleCase{
            "Normal", [](SimulatedChip&) {}, {std::string(kOpened), std::string(kClosed)}},
        LifecycleCase{
            "NoDevice",
            [](SimulatedChip& c) { c.SetDeviceConnected(false); },
            {std::string(kOpenFailed), std::string(kResetFailed), std::string(kCloseFailed)}},
        LifecycleCase{"ResetFails",
                      [](SimulatedChip& c) { c.SetBitBangResetFails(true); },
                      {std::string(kOpened), std::string(kResetFailed), std::string(kClosed)}},
        LifecycleCase{"CloseFails",
                      [](SimulatedChip& c) { c.SetCloseFails(true); },
                      {std::string(kOpened), std::string(kCloseFailed)}}),
    [](const auto& info) { return info.param.name; });

TEST(DeviceLink, KeepsThePointerWideHandleWholeAndNeverClearsIt) {
  VirtualClock clock;
  SimulatedChip chip(clock);
  EventLog log;
  RecordingDriver driver(chip, log);
  RecordingDisplay display(log);
  DeviceLink link;
  ASSERT_EQ(link.lngHandle, nullptr);

  OpenLink(link, driver, display);
  CloseLink(link, driver, display);

  EXPECT_EQ(link.lngHandle, SimulatedChip::Handle());
  ASSERT_EQ(driver.handles.size(), 2U);
  EXPECT_EQ(driver.handles[0], SimulatedChip::Handle());
  EXPECT_EQ(driver.handles[1], SimulatedChip::Handle());
  EXPECT_FALSE(chip.IsOpen());
}

TEST(DeviceLink, UnpluggedWhileOpenReportsBothFailuresAtExit) {
  VirtualClock clock;
  SimulatedChip chip(clock);
  EventLog log;
  RecordingDisplay display(log);
  DeviceLink link;

  OpenLink(link, chip, display);
  chip.Unplug();
  CloseLink(link, chip, display);

  EXPECT_EQ(display.messages, (std::vector<std::string>{std::string(link_messages::kOpened),
                                                        std::string(link_messages::kResetFailed),
                                                        std::string(link_messages::kCloseFailed)}));
}

}  // namespace
}  // namespace capmeter
