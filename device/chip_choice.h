#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "device/device_list.h"
#include "device/driver_library.h"
#include "device/ft_types.h"

namespace capmeter {

// Which chip a program opens, as its command line says: by its index in the
// driver's list (--device N) or by its serial number (--serial TEXT); device
// 0 when neither is given.
struct ChipChoice {
  std::optional<std::uint32_t> index;
  std::optional<std::string> serialNumber;
};

// The choice in words: "device 0", "chip 2", "the chip with serial number
// \"A1\"".
std::string ChoiceText(const ChipChoice& choice);

// The chips a driver sees, or why it cannot say.
struct ChipListing {
  FT_STATUS status = kStatusOk;
  std::string problem;  // empty when `chips` is the list
  std::vector<DeviceInfo> chips;
};
ChipListing ListChips(DriverLibrary& driver);

// The list in one clause for messages: "the driver sees 2 chips: 0 SIM-1,
// 1 SIM-2", "the driver sees no chip".
std::string ChipsInWords(const ChipListing& listing);

// One chip in words: "serial number SIM-2, \"Simulated capacitance
// meter\", simulated".
std::string ChipText(const DeviceInfo& chip);
// A driver's location number as the list shows it ("0x1a2").
std::string LocationIdText(std::uint32_t locId);

// The driver with the chosen chip as its only device 0: its FT_Open(0)
// opens that chip, by index or through FT_OpenEx by serial number, after
// making sure from the list that the chip is there, so that a choice that
// matches nothing opens nothing at all. Without a choice it passes every
// call on untouched, as the window's open of device 0 expects. The list and
// the stream are the driver's own.
class SelectedChip final : public DriverLibrary {
 public:
  SelectedChip(DriverLibrary& inner, ChipChoice choice);

  const ChipChoice& Choice() const { return choice_; }
  // After a failed open: why no chip matched the choice, naming those that
  // are there; empty when the driver's own open failed or none was tried.
  const std::string& WhyNotOpened() const { return whyNotOpened_; }
  // Told WhyNotOpened() as soon as an open finds no chip to open, before
  // the caller hears of the failure (a window shows it in a modal box).
  void SetChoiceFailureReport(std::function<void(const std::string& why)> report) {
    report_ = std::move(report);
  }
  // The chip open now, from the driver's list; nothing while none is open
  // or when the driver cannot list. Asks the driver for its list.
  std::optional<DeviceInfo> OpenChip();

  FT_STATUS FT_Open(std::int32_t deviceIndex, FT_HANDLE* handle) override;
  FT_STATUS FT_SetBitMode(FT_HANDLE handle, std::uint8_t mask, std::uint8_t enable) override;
  FT_STATUS FT_Write(FT_HANDLE handle, const void* buffer, std::uint32_t bytesToWrite,
                     std::uint32_t* bytesWritten) override;
  FT_STATUS FT_GetBitMode(FT_HANDLE handle, std::uint8_t* pins) override;
  FT_STATUS FT_Close(FT_HANDLE handle) override;
  std::string StatusName(FT_STATUS status) const override { return inner_.StatusName(status); }
  SampleStream* SampleStreaming() override { return inner_.SampleStreaming(); }
  std::string WhyNoSampleStream() const override { return inner_.WhyNoSampleStream(); }
  DeviceList* Devices() override { return inner_.Devices(); }
  std::string WhyNoDeviceList() const override { return inner_.WhyNoDeviceList(); }
  FamilyReport FamilyOf(FT_HANDLE handle) override { return inner_.FamilyOf(handle); }

 private:
  FT_STATUS OpenChosen(FT_HANDLE* handle);

  DriverLibrary& inner_;
  ChipChoice choice_;
  std::string whyNotOpened_;
  std::function<void(const std::string&)> report_;
  FT_HANDLE openHandle_ = nullptr;
  std::optional<std::uint32_t> openIndex_;  // in the driver's list, where known
  std::optional<std::string> openSerial_;
};

}  // namespace capmeter
