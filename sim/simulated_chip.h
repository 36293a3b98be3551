#pragma once

#include <cstdint>
#include <optional>

#include "device/driver_library.h"
#include "measurement/clock.h"
#include "sim/timing_circuit.h"

namespace capmeter {

// Failure statuses the simulated library answers with (any non-zero status
// is a failure to the program).
namespace sim_status {
inline constexpr FT_STATUS kInvalidHandle = 1;
inline constexpr FT_STATUS kDeviceNotFound = 2;
inline constexpr FT_STATUS kDeviceNotOpened = 3;
inline constexpr FT_STATUS kIoError = 4;
inline constexpr FT_STATUS kInvalidParameter = 6;
}  // namespace sim_status

// An interface chip in bit-bang mode with the timing circuit on its pins,
// in-process. Time comes from the clock it is given, so a whole measurement
// can run on virtual time; every call first lets the set latency pass, to
// model a USB round trip. Faults can be injected at any moment.
class SimulatedChip final : public DriverLibrary {
 public:
  explicit SimulatedChip(Clock& clock, CircuitParts parts = {});

  FT_STATUS FT_Open(std::int32_t deviceIndex, FT_HANDLE* handle) override;
  FT_STATUS FT_SetBitMode(FT_HANDLE handle, std::uint8_t mask, std::uint8_t enable) override;
  FT_STATUS FT_Write(FT_HANDLE handle, const void* buffer, std::uint32_t bytesToWrite,
                     std::uint32_t* bytesWritten) override;
  FT_STATUS FT_GetBitMode(FT_HANDLE handle, std::uint8_t* pins) override;
  FT_STATUS FT_Close(FT_HANDLE handle) override;
  std::string StatusName(FT_STATUS status) const override { return VendorStatusName(status); }

  // The handle an open hands out: it uses the upper half of a 64-bit
  // pointer, so a caller that cuts it to 32 bits is caught.
  static FT_HANDLE Handle();

  void SetCallLatency(Clock::Duration latency) { latency_ = latency; }
  // false: no device is connected, so FT_Open fails.
  void SetDeviceConnected(bool connected) { connected_ = connected; }
  // From now on every call fails and writes nothing.
  void Unplug() { unplugAt_ = clock_.Now(); }
  // Unplugs once the clock reaches `when`.
  void UnplugAt(Clock::Duration when) { unplugAt_ = when; }
  void SetBitBangResetFails(bool fails) { resetFails_ = fails; }
  void SetCloseFails(bool fails) { closeFails_ = fails; }

  TimingCircuit& Circuit() { return circuit_; }
  bool IsOpen() const { return open_; }
  bool InBitBangMode() const { return bitBang_; }
  std::uint8_t OutputLatch() const { return latch_; }

 private:
  // Lets the call's latency pass; then the failure status of a call on
  // `handle`, or nothing when the call may go ahead.
  std::optional<FT_STATUS> BeginCall(FT_HANDLE handle);
  bool Unplugged() const;
  // The level of every pin as it stands now (bit n = Dn).
  std::uint8_t PinLevels() const;
  void DriveCircuit();

  Clock& clock_;
  TimingCircuit circuit_;
  Clock::Duration latency_{0};
  bool connected_ = true;
  std::optional<Clock::Duration> unplugAt_;
  bool resetFails_ = false;
  bool closeFails_ = false;

  bool open_ = false;
  bool bitBang_ = false;
  std::uint8_t mask_ = 0;
  std::uint8_t latch_ = 0;
};

}  // namespace capmeter
