// The driver library contract (tests/device/driver_contract.h) and the
// sample stream's (tests/device/sample_stream_contract.h) over the
// implementations every build has; the direct USB driver's run is in
// tests/usb/, on an emulated chip.

#include "tests/device/driver_contract.h"

#include <gtest/gtest.h>

#include <chrono>
#include <sstream>

#include "device/trace_driver.h"
#include "sim/simulated_chip.h"
#include "sim/virtual_clock.h"
#include "tests/device/device_list_contract.h"
#include "tests/device/sample_stream_contract.h"

// The stand-in driver library is built where the platform loader can load it
// by path; the binding is checked over it there.
#if defined(CAPMETER_FTD2XX_STANDIN)
#include "tests/device/standin_backend.h"
#endif

namespace capmeter {
namespace {

struct SimulatedChipBackend {
  VirtualClock clock;
  SimulatedChip chip{clock};

  DriverLibrary& Library() { return chip; }
  void Disconnect() { chip.SetDeviceConnected(false); }
  void Unplug() { chip.Unplug(); }
  void Pass(std::chrono::nanoseconds span) { clock.Wait(span); }
};

// The trace passes every call through untouched, so it keeps the contract of
// what it wraps.
struct TracedChipBackend {
  VirtualClock clock;
  SimulatedChip chip{clock};
  std::ostringstream lines;
  TraceDriver trace{chip, lines, [this] { return clock.Now(); }};

  DriverLibrary& Library() { return trace; }
  void Disconnect() { chip.SetDeviceConnected(false); }
  void Unplug() { chip.Unplug(); }
  void Pass(std::chrono::nanoseconds span) { clock.Wait(span); }
};

// Three chips on one circuit, listed; and the same through the trace.
struct SimulatedChipsBackend {
  VirtualClock clock;
  SimulatedChip chip{clock};
  SimulatedChipsBackend() { chip.SetChipCount(3); }

  DriverLibrary& Library() { return chip; }
  std::vector<std::string> Serials() { return {"SIM-1", "SIM-2", "SIM-3"}; }
  void Disconnect() { chip.SetDeviceConnected(false); }
};

struct TracedChipsBackend : SimulatedChipsBackend {
  std::ostringstream lines;
  TraceDriver trace{chip, lines, [this] { return clock.Now(); }};
  DriverLibrary& Library() { return trace; }
};

INSTANTIATE_TYPED_TEST_SUITE_P(SimulatedChips, DeviceListContract, SimulatedChipsBackend);
INSTANTIATE_TYPED_TEST_SUITE_P(TracedSimulatedChips, DeviceListContract, TracedChipsBackend);
INSTANTIATE_TYPED_TEST_SUITE_P(SimulatedChip, DriverContract, SimulatedChipBackend);
INSTANTIATE_TYPED_TEST_SUITE_P(TracedSimulatedChip, DriverContract, TracedChipBackend);
INSTANTIATE_TYPED_TEST_SUITE_P(SimulatedChip, SampleStreamContract, SimulatedChipBackend);
INSTANTIATE_TYPED_TEST_SUITE_P(TracedSimulatedChip, SampleStreamContract, TracedChipBackend);
#if defined(CAPMETER_FTD2XX_STANDIN)
INSTANTIATE_TYPED_TEST_SUITE_P(VendorLibraryOverStandin, DriverContract, testing::StandinBackend);
INSTANTIATE_TYPED_TEST_SUITE_P(VendorLibraryOverStandin, SampleStreamContract,
                               testing::StandinBackend);
INSTANTIATE_TYPED_TEST_SUITE_P(VendorLibraryOverStandin, DeviceListContract,
                               testing::StandinBackend);
#endif

}  // namespace
}  // namespace capmeter
