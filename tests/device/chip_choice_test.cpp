// The chosen chip over three simulated chips, each open traced: which open
// the choice leads to, and that a choice nothing matches opens nothing.

#include "device/chip_choice.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "device/trace_driver.h"
#include "sim/simulated_chip.h"
#include "sim/virtual_clock.h"
#include "tests/support/forwarding_driver.h"

namespace capmeter {
namespace {

struct ChoiceCase {
  const char* name;
  ChipChoice choice;
  bool listing = true;  // false: the driver cannot list its chips
  const char* open;     // the open the trace must show; null: no open at all
  const char* serial;   // OpenChip()'s serial number after the open; null: none
  const char* why;      // in WhyNotOpened(); null: it stays empty
};

class ChipChoices : public ::testing::TestWithParam<ChoiceCase> {};

TEST_P(ChipChoices, OpenTheChosenChipOrNothing) {
  const ChoiceCase& c = GetParam();
  VirtualClock clock;
  SimulatedChip chips(clock);
  chips.SetChipCount(3);
  testing::ForwardingDriver unlisted(chips);  // forwards no list
  std::ostringstream lines;
  TraceDriver trace(c.listing ? static_cast<DriverLibrary&>(chips) : unlisted, lines,
                    [&clock] { return clock.Now(); });
  SelectedChip selected(trace, c.choice);

  FT_HANDLE handle = nullptr;
  const FT_STATUS status = selected.FT_Open(0, &handle);
  const std::string trail = lines.str();
  if (c.open == nullptr) {
    EXPECT_NE(status, kStatusOk);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(trail.find("FT_Open"), std::string::npos) << trail;
    EXPECT_FALSE(chips.IsOpen());
  } else {
    EXPECT_EQ(status, kStatusOk) << trail;
    EXPECT_NE(trail.find(c.open), std::string::npos) << trail;
  }
  if (!c.choice.index && !c.choice.serialNumber) {
    // The window's open of device 0 stays a single call.
    EXPECT_EQ(trail.find("FT_CreateDeviceInfoList"), std::string::npos) << trail;
  }
  const std::optional<DeviceInfo> chip = selected.OpenChip();
  EXPECT_EQ(chip ? chip->serialNumber : "none", c.serial ? c.serial : "none");
  if (c.why == nullptr) {
    EXPECT_EQ(selected.WhyNotOpened(), "");
  } else {
    EXPECT_NE(selected.WhyNotOpened().find(c.why), std::string::npos) << selected.WhyNotOpened();
  }
  if (status == kStatusOk) {
    EXPECT_EQ(selected.FT_Close(handle), kStatusOk);
    EXPECT_FALSE(selected.OpenChip());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ChipChoices,
    ::testing::Values(
        ChoiceCase{"None", {}, true, "FT_Open index=0", "SIM-1", nullptr},
        ChoiceCase{"Index", {2, std::nullopt}, true, "FT_Open index=2", "SIM-3", nullptr},
        ChoiceCase{"Serial",
                   {std::nullopt, "SIM-2"},
                   true,
                   "FT_OpenEx serial=\"SIM-2\"",
                   "SIM-2",
                   nullptr},
        ChoiceCase{"UnknownSerial",
                   {std::nullopt, "SIM-9"},
                   true,
                   nullptr,
                   nullptr,
                   "the driver sees 3 chips: 0 SIM-1, 1 SIM-2, 2 SIM-3"},
        ChoiceCase{"IndexBeyondTheList",
                   {3, std::nullopt},
                   true,
                   nullptr,
                   nullptr,
                   "the driver sees 3 chips"},
        ChoiceCase{"SerialWithoutAList",
                   {std::nullopt, "SIM-1"},
                   false,
                   nullptr,
                   nullptr,
                   "cannot list its chips"},
        // The driver's own open decides, and no chip can be named.
        ChoiceCase{
            "IndexWithoutAList", {1, std::nullopt}, false, "FT_Open index=1", nullptr, nullptr}),
    [](const ::testing::TestParamInfo<ChoiceCase>& info) { return info.param.name; });

}  // namespace
}  // namespace capmeter
