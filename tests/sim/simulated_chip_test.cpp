#include "sim/simulated_chip.h"

#include <gtest/gtest.h>

#include "sim/virtual_clock.h"

namespace capmeter {
namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;

class SimulatedChipTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(chip.FT_Open(0, &handle), kStatusOk); }

  void Write(std::uint8_t byte) {
    std::uint32_t written = 0;
    ASSERT_EQ(chip.FT_Write(handle, &byte, 1, &written), kStatusOk);
    ASSERT_EQ(written, 1U);
  }
  std::uint8_t Pins() {
    std::uint8_t pins = 0;
    EXPECT_EQ(chip.FT_GetBitMode(handle, &pins), kStatusOk);
    return pins;
  }
  void Trigger() {
    ASSERT_EQ(chip.FT_SetBitMode(handle, 0xFD, 0xFF), kStatusOk);
    for (std::uint8_t byte : {0x31, 0x35, 0x34, 0x35}) Write(byte);
  }

  VirtualClock clock;
  SimulatedChip chip{clock};
  FT_HANDLE handle = nullptr;
};

TEST_F(SimulatedChipTest, OutputsFollowEachWriteAndD1ReadsAsInput) {
  ASSERT_EQ(chip.FT_SetBitMode(handle, 0xFD, 0xFF), kStatusOk);
  Write(0x35);
  EXPECT_EQ(Pins(), 0x35);  // D1 low: the timer was never triggered
  Write(0x00);
  EXPECT_EQ(Pins(), 0x00);
  Write(0xFF);
  EXPECT_EQ(Pins(), 0xFD);  // D1 is an input, so writing 1 to it drives nothing
}

TEST_F(SimulatedChipTest, TriggerHoldsD1HighForOnePointOneRC) {
  chip.Circuit().SetParts({.resistanceOhms = 10e3, .capacitanceFarads = 1e-6});  // 11 ms
  ASSERT_EQ(chip.Circuit().HighTime(), microseconds(11000));
  const auto triggered = clock.Now();
  Trigger();
  EXPECT_EQ(Pins(), 0x37);
  clock.Wait(microseconds(10999));
  EXPECT_EQ(Pins(), 0x37);
  clock.Wait(microseconds(1));
  EXPECT_EQ(clock.Now() - triggered, microseconds(11000));
  EXPECT_EQ(Pins(), 0x35);
}

TEST_F(SimulatedChipTest, D2LowHoldsTheTimerReset) {
  ASSERT_EQ(chip.FT_SetBitMode(handle, 0xFD, 0xFF), kStatusOk);
  for (std::uint8_t byte : {0x31, 0x30, 0x31}) Write(byte);  // D0 pulses low with D2 low
  EXPECT_EQ(Pins(), 0x31);
  Trigger();
  EXPECT_EQ(Pins(), 0x37);
  Write(0x31);  // D2 low again cuts the charge short
  EXPECT_EQ(Pins(), 0x31);
}

TEST_F(SimulatedChipTest, MaskZeroValueZeroLeavesBitBangMode) {
  Trigger();
  ASSERT_TRUE(chip.InBitBangMode());
  ASSERT_EQ(chip.FT_SetBitMode(handle, 0x00, 0x00), kStatusOk);
  EXPECT_FALSE(chip.InBitBangMode());
  EXPECT_EQ(chip.FT_Close(handle), kStatusOk);
}

TEST_F(SimulatedChipTest, EachCallCostsTheSetLatency) {
  chip.SetCallLatency(microseconds(125));
  const auto before = clock.Now();
  Trigger();  // five calls
  Pins();
  EXPECT_EQ(clock.Now() - before, microseconds(750));
}

// That an unplugged chip fails and writes nothing is part of the driver
// contract suite; here, that the unplug takes effect at the set moment.
TEST_F(SimulatedChipTest, UnplugsWhenTheClockReachesTheSetTime) {
  std::uint8_t pins = 0xAA;
  chip.UnplugAt(clock.Now() + milliseconds(1));
  clock.Wait(microseconds(999));
  EXPECT_EQ(chip.FT_GetBitMode(handle, &pins), kStatusOk);
  clock.Wait(microseconds(1));
  pins = 0xAA;
  EXPECT_NE(chip.FT_GetBitMode(handle, &pins), kStatusOk);
  EXPECT_EQ(pins, 0xAA);
}

TEST_F(SimulatedChipTest, AFailedCallDoesNotEnterBitBangMode) {
  int bogus = 0;
  EXPECT_NE(chip.FT_SetBitMode(&bogus, 0xFD, 0xFF), kStatusOk);
  EXPECT_FALSE(chip.InBitBangMode());
}

}  // namespace
}  // namespace capmeter
