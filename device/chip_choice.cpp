#include "device/chip_choice.h"

#include <utility>

#include "device/hex_text.h"

namespace capmeter {

std::string ChoiceText(const ChipChoice& choice) {
  if (choice.serialNumber) {
    return "the chip with serial number \"" + *choice.serialNumber + "\"";
  }
  return choice.index ? "chip " + std::to_string(*choice.index) : "device 0";
}

ChipListing ListChips(DriverLibrary& driver) {
  ChipListing listing;
  DeviceList* list = driver.Devices();
  if (list == nullptr) {
    listing.status = kDeviceNotFound;
    listing.problem = driver.WhyNoDeviceList();
    return listing;
  }
  std::uint32_t count = 0;
  listing.status = list->FT_CreateDeviceInfoList(&count);
  if (listing.status != kStatusOk) {
    listing.problem = "FT_CreateDeviceInfoList: " + StatusText(driver, listing.status);
    return listing;
  }
  for (std::uint32_t index = 0; index < count; ++index) {
    DeviceInfo info;
    listing.status = list->FT_GetDeviceInfoDetail(index, &info);
    if (listing.status != kStatusOk) {
      // A chip unplugged between the two calls ends the list early.
      listing.problem = "FT_GetDeviceInfoDetail: " + StatusText(driver, listing.status);
      listing.chips.clear();
      return listing;
    }
    listing.chips.push_back(std::move(info));
  }
  return listing;
}

std::string ChipsInWords(const ChipListing& listing) {
  if (!listing.problem.empty()) {
    return "the driver cannot list its chips (" + listing.problem + ")";
  }
  if (listing.chips.empty()) {
    return "the driver sees no chip";
  }
  std::string text = "the driver sees " + std::to_string(listing.chips.size()) +
                     (listing.chips.size() == 1 ? " chip: " : " chips: ");
  for (std::size_t i = 0; i < listing.chips.size(); ++i) {
    const std::string& serial = listing.chips[i].serialNumber;
    text += (i > 0 ? ", " : "") + std::to_string(i) + " " +
            (serial.empty() ? "(no serial number)" : serial);
  }
  return text;
}

std::string ChipText(const DeviceInfo& chip) {
  std::string text =
      chip.serialNumber.empty() ? "no serial number" : "serial number " + chip.serialNumber;
  if (!chip.description.empty()) text += ", \"" + chip.description + "\"";
  if (!chip.location.empty()) {
    text += ", " + chip.location;
  } else if (chip.locId != 0) {
    text += ", location " + LocationIdText(chip.locId);
  }
  return text;
}

std::string LocationIdText(std::uint32_t locId) {
  return HexText(locId, 1);
}

SelectedChip::SelectedChip(DriverLibrary& inner, ChipChoice choice)
    : inner_(inner), choice_(std::move(choice)) {}

FT_STATUS SelectedChip::FT_Open(std::int32_t deviceIndex, FT_HANDLE* handle) {
  whyNotOpened_.clear();
  FT_STATUS status = kStatusOk;
  if (!choice_.index && !choice_.serialNumber) {
    status = inner_.FT_Open(deviceIndex, handle);
    if (status == kStatusOk && deviceIndex >= 0) {
      openIndex_ = static_cast<std::uint32_t>(deviceIndex);
    }
  } else if (deviceIndex != 0) {
    return kDeviceNotFound;  // the chosen chip is the only one here
  } else {
    status = OpenChosen(handle);
    if (!whyNotOpened_.empty() && report_) report_(whyNotOpened_);
  }
  if (status == kStatusOk && handle != nullptr) {
    openHandle_ = *handle;
  } else {
    openIndex_.reset();
    openSerial_.reset();
  }
  return status;
}

FT_STATUS SelectedChip::OpenChosen(FT_HANDLE* handle) {
  ChipListing listing = ListChips(inner_);
  if (choice_.serialNumber) {
    const std::string& wanted = *choice_.serialNumber;
    if (!listing.problem.empty()) {
      whyNotOpened_ = "the driver cannot list its chips to find it (" + listing.problem + ")";
      return kDeviceNotFound;
    }
    for (std::uint32_t i = 0; i < listing.chips.size(); ++i) {
      if (listing.chips[i].serialNumber == wanted) {
        const FT_STATUS status = inner_.Devices()->FT_OpenEx(wanted, kOpenBySerialNumber, handle);
        openIndex_ = i;
        openSerial_ = wanted;
        return status;
      }
    }
    whyNotOpened_ = ChipsInWords(listing);
    return kDeviceNotFound;
  }
  const std::uint32_t index = *choice_.index;
  // A driver that cannot list is asked for the index all the same: its open
  // says whether there is such a chip.
  if (listing.problem.empty() && index >= listing.chips.size()) {
    whyNotOpened_ = ChipsInWords(listing);
    return kDeviceNotFound;
  }
  openIndex_ = index;
  return inner_.FT_Open(static_cast<std::int32_t>(index), handle);
}

std::optional<DeviceInfo> SelectedChip::OpenChip() {
  if (!openIndex_) {
    return std::nullopt;
  }
  ChipListing listing = ListChips(inner_);
  if (!listing.problem.empty()) {
    return std::nullopt;
  }
  // By serial where it was chosen so: the list may have changed order since.
  for (DeviceInfo& chip : listing.chips) {
    if (openSerial_ && chip.serialNumber == *openSerial_) {
      return std::move(chip);
    }
  }
  if (!openSerial_ && *openIndex_ < listing.chips.size()) {
    return std::move(listing.chips[*openIndex_]);
  }
  return std::nullopt;
}

FT_STATUS SelectedChip::FT_SetBitMode(FT_HANDLE handle, std::uint8_t mask, std::uint8_t enable) {
  return inner_.FT_SetBitMode(handle, mask, enable);
}

FT_STATUS SelectedChip::FT_Write(FT_HANDLE handle, const void* buffer, std::uint32_t bytesToWrite,
                                 std::uint32_t* bytesWritten) {
  return inner_.FT_Write(handle, buffer, bytesToWrite, bytesWritten);
}

FT_STATUS SelectedChip::FT_GetBitMode(FT_HANDLE handle, std::uint8_t* pins) {
  return inner_.FT_GetBitMode(handle, pins);
}

FT_STATUS SelectedChip::FT_Close(FT_HANDLE handle) {
  const FT_STATUS status = inner_.FT_Close(handle);
  if (status == kStatusOk && handle == openHandle_) {
    openHandle_ = nullptr;
    openIndex_.reset();
    openSerial_.reset();
  }
  return status;
}

}  // namespace capmeter
