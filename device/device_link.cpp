#include "device/device_link.h"

#include "device/link_messages.h"

namespace capmeter {

namespace {
constexpr std::int32_t kFirstDevice = 0;
constexpr std::uint8_t kAllInputs = 0x00;
constexpr std::uint8_t kLeaveBitBang = 0x00;
}  // namespace

void OpenLink(DeviceLink& link, DriverLibrary& library, Display& display) {
  const FT_STATUS status = library.FT_Open(kFirstDevice, &link.lngHandle);
  display.ShowMessage(status == kStatusOk ? link_messages::kOpened : link_messages::kOpenFailed);
}

void CloseLink(const DeviceLink& link, DriverLibrary& library, Display& display) {
  if (library.FT_SetBitMode(link.lngHandle, kAllInputs, kLeaveBitBang) != kStatusOk) {
    display.ShowMessage(link_messages::kResetFailed);
  }
  display.ShowMessage(library.FT_Close(link.lngHandle) == kStatusOk ? link_messages::kClosed
                                                                    : link_messages::kCloseFailed);
}

}  // namespace capmeter
