#include "device/device_link.h"

#include "device/link_messages.h"

namespace capmeter {

FT_STATUS OpenLink(DeviceLink& link, DriverLibrary& library, Display& display) {
  const FT_STATUS status = library.FT_Open(kFirstDevice, &link.lngHandle);
  display.ShowMessage(status == kStatusOk ? link_messages::kOpened : link_messages::kOpenFailed);
  return status;
}

void CloseLink(const DeviceLink& link, DriverLibrary& library, Display& display) {
  if (library.FT_SetBitMode(link.lngHandle, kAllInputs, kLeaveBitBang) != kStatusOk) {
    display.ShowMessage(link_messages::kResetFailed);
  }
  display.ShowMessage(library.FT_Close(link.lngHandle) == kStatusOk ? link_messages::kClosed
                                                                    : link_messages::kCloseFailed);
}

}  // namespace capmeter
