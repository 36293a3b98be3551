#pragma once

// The driver library contract (device/driver_library.h) as one typed test
// suite, run against every implementation. A backend is a type with
// Library(), Disconnect() and Unplug(); it joins with one
// INSTANTIATE_TYPED_TEST_SUITE_P(Name, DriverContract, Backend) line.

#include <gtest/gtest.h>

#include <array>
#include <cstdint>

#include "device/driver_library.h"

namespace capmeter {

inline constexpr std::uint8_t kContractMask = 0xFD;  // D1 the only input, as the program drives it

template <typename Backend>
class DriverContract : public ::testing::Test {
 protected:
  DriverLibrary& Library() { return backend_.Library(); }
  Backend& Device() { return backend_; }

  FT_HANDLE Open() {
    FT_HANDLE handle = nullptr;
    EXPECT_EQ(Library().FT_Open(0, &handle), kStatusOk);
    EXPECT_NE(handle, nullptr);
    return handle;
  }

  // Calls the four operations that take a handle, with receivers preset, and
  // checks that each fails and leaves its receiver as it was.
  void ExpectEveryOperationFailsUntouched(FT_HANDLE handle) {
    constexpr std::uint8_t kPinsBefore = 0xA5;
    constexpr std::uint32_t kWrittenBefore = 0xA5A5;
    std::uint8_t pins = kPinsBefore;
    std::uint32_t written = kWrittenBefore;
    const std::uint8_t byte = 0x35;
    EXPECT_NE(Library().FT_SetBitMode(handle, kContractMask, 0xFF), kStatusOk);
    EXPECT_NE(Library().FT_Write(handle, &byte, 1, &written), kStatusOk);
    EXPECT_NE(Library().FT_GetBitMode(handle, &pins), kStatusOk);
    EXPECT_NE(Library().FT_Close(handle), kStatusOk);
    EXPECT_EQ(pins, kPinsBefore);
    EXPECT_EQ(written, kWrittenBefore);
  }

 private:
  Backend backend_;
};

TYPED_TEST_SUITE_P(DriverContract);

TYPED_TEST_P(DriverContract, OpenGivesAValidHandleWithStatusZero) {
  FT_HANDLE handle = this->Open();
  EXPECT_EQ(this->Library().FT_Close(handle), kStatusOk);
}

TYPED_TEST_P(DriverContract, OpenWithoutADeviceFailsAndLeavesTheHandle) {
  this->Device().Disconnect();
  int marker = 0;
  FT_HANDLE handle = &marker;
  EXPECT_NE(this->Library().FT_Open(0, &handle), kStatusOk);
  EXPECT_EQ(handle, &marker);
}

TYPED_TEST_P(DriverContract, AHandleNeverHandedOutFailsEveryOperation) {
  this->Open();
  int bogus = 0;
  for (FT_HANDLE invalid : std::array<FT_HANDLE, 2>{nullptr, &bogus}) {
    SCOPED_TRACE(invalid == nullptr ? "null handle" : "foreign handle");
    this->ExpectEveryOperationFailsUntouched(invalid);
  }
}

TYPED_TEST_P(DriverContract, AClosedHandleFailsEveryOperationCloseIncluded) {
  FT_HANDLE handle = this->Open();
  ASSERT_EQ(this->Library().FT_Close(handle), kStatusOk);
  this->ExpectEveryOperationFailsUntouched(handle);
}

TYPED_TEST_P(DriverContract, OutputPinsReadBackAsWrittenInBitBangMode) {
  DriverLibrary& library = this->Library();
  FT_HANDLE handle = this->Open();
  ASSERT_EQ(library.FT_SetBitMode(handle, kContractMask, 0xFF), kStatusOk);
  for (const std::uint8_t byte : {0x31, 0x35, 0x34, 0x00, 0xFD, 0xFF}) {
    SCOPED_TRACE(::testing::Message() << "byte 0x" << std::hex << int{byte});
    std::uint32_t written = 0;
    EXPECT_EQ(library.FT_Write(handle, &byte, 1, &written), kStatusOk);
    EXPECT_EQ(written, 1U);
    std::uint8_t pins = static_cast<std::uint8_t>(~byte);
    EXPECT_EQ(library.FT_GetBitMode(handle, &pins), kStatusOk);
    EXPECT_EQ(pins & kContractMask, byte & kContractMask);
  }
}

TYPED_TEST_P(DriverContract, LeavingBitBangModeThenClosingSucceeds) {
  DriverLibrary& library = this->Library();
  FT_HANDLE handle = this->Open();
  ASSERT_EQ(library.FT_SetBitMode(handle, kContractMask, 0xFF), kStatusOk);
  EXPECT_EQ(library.FT_SetBitMode(handle, 0x00, 0x00), kStatusOk);
  EXPECT_EQ(library.FT_Close(handle), kStatusOk);
  // The device can be opened again once closed.
  EXPECT_EQ(library.FT_Close(this->Open()), kStatusOk);
}

TYPED_TEST_P(DriverContract, AnUnpluggedDeviceFailsEveryCallAndWritesNothing) {
  FT_HANDLE handle = this->Open();
  this->Device().Unplug();
  this->ExpectEveryOperationFailsUntouched(handle);
  FT_HANDLE reopened = nullptr;
  EXPECT_NE(this->Library().FT_Open(0, &reopened), kStatusOk);
  EXPECT_EQ(reopened, nullptr);
}

REGISTER_TYPED_TEST_SUITE_P(DriverContract, OpenGivesAValidHandleWithStatusZero,
                            OpenWithoutADeviceFailsAndLeavesTheHandle,
                            AHandleNeverHandedOutFailsEveryOperation,
                            AClosedHandleFailsEveryOperationCloseIncluded,
                            OutputPinsReadBackAsWrittenInBitBangMode,
                            LeavingBitBangModeThenClosingSucceeds,
                            AnUnpluggedDeviceFailsEveryCallAndWritesNothing);

}  // namespace capmeter
