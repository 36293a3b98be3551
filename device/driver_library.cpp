#include "device/driver_library.h"

namespace capmeter {

std::string StatusText(const DriverLibrary& driver, FT_STATUS status) {
  const std::string name = driver.StatusName(status);
  return "status " + std::to_string(status) + (name.empty() ? "" : " (" + name + ")");
}

std::string VendorStatusName(FT_STATUS status) {
  switch (status) {
    case 1:
      return "invalid handle";
    case 2:
      return "device not found";
    case 3:
      return "device not opened";
    case 4:
      return "I/O error";
    case 5:
      return "insufficient resources";
    case 6:
      return "invalid parameter";
    case 18:
      return "not supported";
    case 19:
      return "other error";
    default:
      return {};
  }
}

}  // namespace capmeter
