#include "startup/driver_setup.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "sim/virtual_clock.h"
#if defined(CAPMETER_DIRECT_USB)
#include "device/direct_usb.h"
#endif

namespace capmeter {
namespace {

std::unique_ptr<ChosenDriver> Choose(const DriverOptions& options, Clock& clock) {
  std::string problem;
  auto driver = ChooseDriver(options, clock, problem);
  EXPECT_TRUE(driver) << problem;
  return driver;
}

TEST(ChooseDriver, TheSimulatedChipGetsItsPartsAndLatency) {
  VirtualClock clock;
  DriverOptions options;
  options.simulate = true;
  options.parts = {4.7e3, 10e-6};
  options.latency = std::chrono::milliseconds(1);
  options.chips = 2;
  const auto driver = Choose(options, clock);
  ASSERT_NE(driver->Chip(), nullptr);
  EXPECT_EQ(driver->Chip()->ChipCount(), 2U);
  EXPECT_DOUBLE_EQ(driver->Chip()->Circuit().Parts().capacitanceFarads, 10e-6);
  FT_HANDLE handle = nullptr;
  const auto before = clock.Now();
  ASSERT_EQ(driver->Library().FT_Open(0, &handle), kStatusOk);
  EXPECT_EQ(clock.Now() - before, std::chrono::milliseconds(1));
  EXPECT_TRUE(driver->Load().loaded);
}

TEST(ChooseDriver, ATraceTakesEveryCallAndTheLoadWithTheDriversStatusNames) {
  VirtualClock clock;
  const auto path = std::filesystem::temp_directory_path() /
                    ("capmeter-trace-" +
                     std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + ".txt");
  DriverOptions options;
  options.simulate = true;
  options.trace = path.string();
  {
    const auto driver = Choose(options, clock);
    ASSERT_NE(driver->Trace(), nullptr);
    driver->Chip()->SetDeviceConnected(false);
    FT_HANDLE handle = nullptr;
    driver->Load();
    EXPECT_NE(driver->Library().FT_Open(0, &handle), kStatusOk);
  }
  std::stringstream text;
  text << std::ifstream(path).rdbuf();  // closed again before the removal, as Windows wants
  std::filesystem::remove(path);
  EXPECT_NE(text.str().find(" driver library: none needed, simulated chip"), std::string::npos)
      << text.str();
  EXPECT_NE(text.str().find("FT_Open index=0 -> 2 (device not found)"), std::string::npos)
      << text.str();
}

TEST(ChooseDriver, ATraceFileThatCannotBeWrittenIsNoDriver) {
  VirtualClock clock;
  DriverOptions options;
  options.simulate = true;
  options.trace = "/nonexistent-folder/trace.txt";
  std::string problem;
  EXPECT_FALSE(ChooseDriver(options, clock, problem));
  EXPECT_EQ(problem, "Cannot write the trace file '/nonexistent-folder/trace.txt'.");
}

#if defined(CAPMETER_DIRECT_USB)
// A denied open names the command that allows this very device; a busy one
// says another program holds it; a status with nothing to add gets no advice.
TEST(ChooseDriver, TheDirectUsbDriverSaysWhatToDoAboutAFailedOpen) {
  VirtualClock clock;
  DriverOptions options;
  options.usb = UsbId{0x1234, 0x5678};
  const auto driver = Choose(options, clock);
  const auto& why = driver->Notes().whyOpenFailed;
  ASSERT_TRUE(why);
  EXPECT_NE(why(usb_status::kAccessDenied).find("\"sudo capmeter-allow-device 1234:5678\""),
            std::string::npos);
  EXPECT_NE(why(usb_status::kBusy).find("Another program holds the chip"), std::string::npos);
  EXPECT_EQ(why(usb_status::kDeviceGone), "");
  EXPECT_EQ(StatusText(driver->Library(), usb_status::kDeviceGone), "status 1004 (device gone)");
}
#endif

}  // namespace
}  // namespace capmeter
