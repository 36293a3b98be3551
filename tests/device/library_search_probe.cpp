// Opens the first device through the driver library found by its bare name,
// as the program does, and prints what happened: the load failure report, if
// any, then each status. Exit code 0 when the device opened.

#include <iostream>
#include <string_view>

#include "device/vendor_library.h"

int main() {
  capmeter::VendorLibrary library;
  library.SetLoadFailureReport([](std::string_view message) { std::cout << message << '\n'; });
  capmeter::FT_HANDLE handle = nullptr;
  const capmeter::FT_STATUS opened = library.FT_Open(0, &handle);
  std::cout << "FT_Open status " << opened << '\n';
  if (opened != capmeter::kStatusOk) {
    return 1;
  }
  std::cout << "FT_Close status " << library.FT_Close(handle) << '\n';
  return 0;
}
