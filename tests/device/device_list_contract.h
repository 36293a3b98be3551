#pragma once

// The chip list (device/device_list.h) as one typed test suite, run against
// every driver that lists chips. A backend is a type with Library() (whose
// Devices() is not null), Serials() (the serial numbers of the chips it
// holds, two or more, in list order) and Disconnect(); it joins with one
// INSTANTIATE_TYPED_TEST_SUITE_P(Name, DeviceListContract, Backend) line.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "device/driver_library.h"

namespace capmeter {

template <typename Backend>
class DeviceListContract : public ::testing::Test {
 protected:
  DriverLibrary& Library() { return backend_.Library(); }
  DeviceList& List() {
    DeviceList* list = Library().Devices();
    EXPECT_NE(list, nullptr) << Library().WhyNoDeviceList();
    return *list;
  }
  Backend& Device() { return backend_; }

  std::vector<DeviceInfo> Chips() {
    std::uint32_t count = 0;
    EXPECT_EQ(List().FT_CreateDeviceInfoList(&count), kStatusOk);
    std::vector<DeviceInfo> chips(count);
    for (std::uint32_t i = 0; i < count; ++i) {
      EXPECT_EQ(List().FT_GetDeviceInfoDetail(i, &chips[i]), kStatusOk);
    }
    return chips;
  }

 private:
  Backend backend_;
};

TYPED_TEST_SUITE_P(DeviceListContract);

TYPED_TEST_P(DeviceListContract, TheListNamesEachChipByItsSerialNumberAndNoneBeyond) {
  const std::vector<DeviceInfo> chips = this->Chips();
  const std::vector<std::string> serials = this->Device().Serials();
  ASSERT_EQ(chips.size(), serials.size());
  for (std::size_t i = 0; i < chips.size(); ++i) {
    EXPECT_EQ(chips[i].serialNumber, serials[i]);
    EXPECT_LT(chips[i].serialNumber.size(), kSerialNumberSize);
    EXPECT_LT(chips[i].description.size(), kDescriptionSize);
    EXPECT_EQ(chips[i].flags & kDeviceOpened, 0U);
  }
  DeviceInfo untouched;
  untouched.serialNumber = "kept";
  EXPECT_NE(
      this->List().FT_GetDeviceInfoDetail(static_cast<std::uint32_t>(chips.size()), &untouched),
      kStatusOk);
  EXPECT_EQ(untouched.serialNumber, "kept");
}

// The second chip, so a driver that opens the first whatever the serial fails.
TYPED_TEST_P(DeviceListContract, OpenBySerialOpensThatChipAndTheListSaysItIsOpen) {
  const std::string second = this->Device().Serials().at(1);
  FT_HANDLE handle = nullptr;
  ASSERT_EQ(this->List().FT_OpenEx(second, kOpenBySerialNumber, &handle), kStatusOk);
  std::uint8_t pins = 0;
  EXPECT_EQ(this->Library().FT_GetBitMode(handle, &pins), kStatusOk);
  const std::vector<DeviceInfo> chips = this->Chips();
  ASSERT_GE(chips.size(), 2U);
  EXPECT_EQ(chips[0].flags & kDeviceOpened, 0U);
  EXPECT_EQ(chips[1].flags & kDeviceOpened, kDeviceOpened);
  EXPECT_EQ(this->Library().FT_Close(handle), kStatusOk);
}

TYPED_TEST_P(DeviceListContract, AnUnknownSerialOpensNothingAndLeavesTheHandle) {
  FT_HANDLE handle = &handle;
  EXPECT_NE(this->List().FT_OpenEx("NO-SUCH-CHIP", kOpenBySerialNumber, &handle), kStatusOk);
  EXPECT_EQ(handle, &handle);
  // Nothing was left open: the first chip still opens by its serial.
  FT_HANDLE first = nullptr;
  ASSERT_EQ(this->List().FT_OpenEx(this->Device().Serials().at(0), kOpenBySerialNumber, &first),
            kStatusOk);
  EXPECT_EQ(this->Library().FT_Close(first), kStatusOk);
}

TYPED_TEST_P(DeviceListContract, WithNothingConnectedTheListIsEmpty) {
  this->Device().Disconnect();
  std::uint32_t count = 99;
  const FT_STATUS status = this->List().FT_CreateDeviceInfoList(&count);
  EXPECT_TRUE(status != kStatusOk ? count == 99 : count == 0) << "status " << status;
}

REGISTER_TYPED_TEST_SUITE_P(DeviceListContract, TheListNamesEachChipByItsSerialNumberAndNoneBeyond,
                            OpenBySerialOpensThatChipAndTheListSaysItIsOpen,
                            AnUnknownSerialOpensNothingAndLeavesTheHandle,
                            WithNothingConnectedTheListIsEmpty);

}  // namespace capmeter
