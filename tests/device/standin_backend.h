#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "device/shared_library.h"
#include "device/vendor_library.h"
#include "tests/device/ftd2xx_standin.h"

namespace capmeter::testing {

// The vendor binding over the stand-in driver library. The stand-in is opened
// a second time here to set it up and read what reached it; the loader shares
// one copy between this handle and the binding's.
class StandinBackend {
 public:
  StandinBackend() : module_(CAPMETER_FTD2XX_STANDIN) {
    const auto entry = module_.Find<StandinStateEntry>("standin_state");
    if (entry == nullptr) {
      ADD_FAILURE() << "stand-in not loaded: " << module_.Error();
      state_ = &unused_;
    } else {
      state_ = entry();
    }
    *state_ = StandinState{};
  }

  DriverLibrary& Library() { return library_; }
  std::vector<std::string> Serials() const { return {"CM-A", "CM-B"}; }
  void Disconnect() { state_->noDevice = 1; }
  void Unplug() { state_->unplugged = 1; }
  // Each look at the queue brings samples; no time needs to pass.
  void Pass(std::chrono::nanoseconds /*span*/) {}
  StandinState& State() { return *state_; }

 private:
  SharedLibrary module_;
  StandinState unused_{};
  StandinState* state_ = nullptr;
  VendorLibrary library_{{CAPMETER_FTD2XX_STANDIN}};
};

}  // namespace capmeter::testing
