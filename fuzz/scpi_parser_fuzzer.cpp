// Feeds arbitrary bytes, line by line, to the SCPI instrument without a
// device: every line is parsed against the command table and run (readings
// fail at once with -241). Checks that answers stay printable, single-line
// text and that the error queue keeps its bound.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz/require.h"
#include "scpi/instrument.h"
#include "sim/virtual_clock.h"

namespace {

using capmeter::FT_HANDLE;
using capmeter::FT_STATUS;
using capmeter::fuzz::Require;

// No driver library and no device: every call fails, no open works.
class NoDevice final : public capmeter::DriverLibrary, public capmeter::scpi::DeviceAccess {
 public:
  static constexpr FT_STATUS kNotFound = 2;
  FT_STATUS FT_Open(std::int32_t, FT_HANDLE*) override { return kNotFound; }
  FT_STATUS FT_SetBitMode(FT_HANDLE, std::uint8_t, std::uint8_t) override { return kNotFound; }
  FT_STATUS FT_Write(FT_HANDLE, const void*, std::uint32_t, std::uint32_t*) override {
    return kNotFound;
  }
  FT_STATUS FT_GetBitMode(FT_HANDLE, std::uint8_t*) override { return kNotFound; }
  FT_STATUS FT_Close(FT_HANDLE) override { return kNotFound; }
  Opened Open() override { return {nullptr, "no device"}; }
  void Release() override {}
};

void CheckAnswer(std::string_view answer) {
  for (const char c : answer) {
    Require(c >= 0x20 && c < 0x7F, "printable answer", answer);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  NoDevice device;
  capmeter::VirtualClock clock;
  capmeter::scpi::InstrumentSetup setup;
  setup.identity = [] { return std::string("capmeter,fuzz,0,0"); };
  setup.slope = 1e-5;  // so capacitance readings get as far as the device
  capmeter::scpi::Instrument instrument(device, clock, device, setup);
  const capmeter::SeriesControl control;
  std::string_view input(reinterpret_cast<const char*>(data), size);
  while (!input.empty()) {
    const std::size_t end = std::min(input.find('\n'), input.size());
    CheckAnswer(instrument.Execute(input.substr(0, end), control));
    input.remove_prefix(std::min(end + 1, input.size()));
  }
  const std::string count = instrument.Execute("SYST:ERR:COUN?", control);
  Require(std::stoi(count) <= 10, "error queue bound", count);
  for (int i = 0; i < 11; ++i) CheckAnswer(instrument.Execute("SYST:ERR?", control));
  return 0;
}
