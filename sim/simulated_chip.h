#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "device/driver_library.h"
#include "measurement/clock.h"
#include "sim/host_delay.h"
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

// Where streamed samples wait: the chip's FIFO towards the host, and behind
// it the buffer the driver fills from USB on its own. Sampling stops while
// both are full. Samples reach the driver as real chips deliver them: a
// whole IN transfer (the size FT_SetUSBParameters set) once its last sample
// was taken, or, where a packet fills slower than the latency timer runs
// out, what the short packet carries; each handed over as late as the host
// delay model says (SetHostDelay).
struct StreamBuffers {
  std::uint32_t chipFifo = 1024;           // the family's (SetFamily sets it)
  std::uint32_t driverBuffer = 64 * 1024;  // 0: the chip alone, as on an emulated bus
  std::uint32_t packetSize = 512;          // the family's; two of its bytes are modem status
  // false: each sample as soon as its packet is full or the latency timer
  // ran out, for a bus that makes its own transfers (the emulated chip's).
  bool wholeTransfers = true;
};

// The family the simulated chip is of unless told otherwise: the
// single-port high-speed chip, whose bit-bang clock holds its period.
inline constexpr std::uint16_t kSimulatedFamily = 0x0900;

// An interface chip in bit-bang mode with the timing circuit on its pins,
// in-process. Time comes from the clock it is given, so a whole measurement
// can run on virtual time; every call that crosses USB first lets the set
// latency pass, to model a round trip. Faults can be injected at any moment.
//
// Once FT_SetBaudRate has set its clock, the chip in bit-bang mode clocks
// written bytes out one per sample period and samples its pins on the same
// clock into the stream FT_Read takes them from. The clock is its family's
// (device/chip_family.h) for the divisor the vendor's library would send
// for that baud, with the family's erratum where it has one.
// Before that, written bytes reach the pins at once and nothing is sampled.
// FT_GetQueueStatus and FT_Read take from the driver's own buffer and cost
// no round trip.
//
// It can stand for several chips on the same circuit, each with a serial
// number of its own (SerialNumber()); one of them is open at a time.
class SimulatedChip final : public DriverLibrary, public SampleStream, public DeviceList {
 public:
  explicit SimulatedChip(Clock& clock, CircuitParts parts = {});

  FT_STATUS FT_Open(std::int32_t deviceIndex, FT_HANDLE* handle) override;
  FT_STATUS FT_SetBitMode(FT_HANDLE handle, std::uint8_t mask, std::uint8_t enable) override;
  FT_STATUS FT_Write(FT_HANDLE handle, const void* buffer, std::uint32_t bytesToWrite,
                     std::uint32_t* bytesWritten) override;
  FT_STATUS FT_GetBitMode(FT_HANDLE handle, std::uint8_t* pins) override;
  FT_STATUS FT_Close(FT_HANDLE handle) override;
  std::string StatusName(FT_STATUS status) const override { return VendorStatusName(status); }
  SampleStream* SampleStreaming() override { return this; }
  DeviceList* Devices() override { return this; }
  FamilyReport FamilyOf(FT_HANDLE handle) override;

  FT_STATUS FT_CreateDeviceInfoList(std::uint32_t* count) override;
  FT_STATUS FT_GetDeviceInfoDetail(std::uint32_t index, DeviceInfo* info) override;
  FT_STATUS FT_OpenEx(const std::string& serialNumber, std::uint32_t openBy,
                      FT_HANDLE* handle) override;

  FT_STATUS FT_SetBaudRate(FT_HANDLE handle, std::uint32_t baudRate) override;
  FT_STATUS FT_SetLatencyTimer(FT_HANDLE handle, std::uint8_t milliseconds) override;
  FT_STATUS FT_SetUSBParameters(FT_HANDLE handle, std::uint32_t inTransferSize,
                                std::uint32_t outTransferSize) override;
  FT_STATUS FT_Purge(FT_HANDLE handle, std::uint32_t mask) override;
  FT_STATUS FT_GetQueueStatus(FT_HANDLE handle, std::uint32_t* bytesQueued) override;
  FT_STATUS FT_Read(FT_HANDLE handle, void* buffer, std::uint32_t bytesToRead,
                    std::uint32_t* bytesReturned) override;

  // The handle an open hands out: it uses the upper half of a 64-bit
  // pointer, so a caller that cuts it to 32 bits is caught.
  static FT_HANDLE Handle();

  void SetCallLatency(Clock::Duration latency) { latency_ = latency; }
  // How many chips it stands for (1 unless set); at least one.
  void SetChipCount(std::uint32_t count) { chips_ = count > 0 ? count : 1; }
  std::uint32_t ChipCount() const { return chips_; }
  // "SIM-1", "SIM-2", ...: chip `index`'s serial number.
  static std::string SerialNumber(std::uint32_t index);
  // false: no device is connected, so FT_Open fails.
  void SetDeviceConnected(bool connected) { connected_ = connected; }
  // From now on every call fails and writes nothing.
  void Unplug() { unplugAt_ = clock_.Now(); }
  // Unplugs once the clock reaches `when`.
  void UnplugAt(Clock::Duration when) { unplugAt_ = when; }
  void SetBitBangResetFails(bool fails) { resetFails_ = fails; }
  void SetCloseFails(bool fails) { closeFails_ = fails; }
  void SetStreamBuffers(StreamBuffers buffers) { buffers_ = buffers; }
  // Each transfer handed over late by a delay drawn from a busy host's
  // (sim/host_delay.h); none (the default) hands it over as it completes.
  void SetHostDelay(std::optional<std::uint32_t> seed) {
    hostDelay_ = seed ? std::optional<HostDelay>(HostDelay(*seed)) : std::nullopt;
  }
  bool TakeArrivals(FT_HANDLE handle, std::vector<SampleArrival>& into) override;
  // Lets its clock run to the next hand-over, or `most`, as a driver woken
  // by arrivals does.
  bool WaitForSamples(FT_HANDLE handle, std::chrono::nanoseconds most) override;
  // false: it keeps no arrival times, as the vendor's library keeps none,
  // and a measurement times its own looks.
  void SetTimesArrivals(bool times) { timesArrivals_ = times; }
  // The family it is of: its bit-bang clock, erratum, FIFO and packets.
  void SetFamily(const ChipFamily& family);
  const ChipFamily& Family() const { return *family_; }
  // A chip whose clock runs `scale` times what its family's table says, as
  // a wrongly told family or a faulty chip would.
  void SetClockScale(double scale) { clockScale_ = scale; }
  // Sets the sample clock as FT_SetBaudRate would, for a chip whose divisor
  // was read elsewhere (the emulated USB chip's).
  void SetSampleRate(double samplesPerSecond);
  // A sample clock less steady than its family's: every kJitterRun samples
  // the sample period takes a new length, up to `fraction` of it longer or
  // shorter at random. 0 (the default): steady. The family's erratum is
  // drawn the same way, between its shortest period and the one set.
  void SetClockJitter(double fraction) { jitter_ = fraction; }
  static constexpr std::uint32_t kJitterRun = 1024;

  // The rate the chip samples at now, in samples a second; 0 before a baud
  // rate was set.
  double SampleRate() const { return samplesPerSecond_; }
  // Samples the clock had due while the buffers were full, and so skipped.
  std::uint64_t SkippedSamples() const { return skipped_; }

  TimingCircuit& Circuit() { return circuit_; }
  bool IsOpen() const { return open_; }
  bool InBitBangMode() const { return bitBang_; }
  std::uint8_t OutputLatch() const { return latch_; }

 private:
  // Lets the call's latency pass; then the failure status of a call on
  // `handle`, or nothing when the call may go ahead.
  std::optional<FT_STATUS> BeginCall(FT_HANDLE handle);
  bool Unplugged() const;
  // The failure status of a call on `handle` that costs no round trip, or
  // nothing when it may go ahead.
  std::optional<FT_STATUS> Admit(FT_HANDLE handle);
  // The level of every pin at `at` (bit n = Dn).
  std::uint8_t PinLevels(Clock::Duration at) const;
  void DriveCircuit();
  // Runs the stream up to the clock's present: clocks out the written bytes
  // that are due and takes the samples that are due, in time order.
  void AdvanceStream();
  void ClockOut(std::uint8_t byte, Clock::Duration at);
  double NextPeriod();
  // Hands over what has reached the driver by now; how many samples it holds.
  std::uint32_t Deliverable();
  // When the next samples reach the driver, as the clock runs on now; none
  // while it does not sample. Foreseen at the present sample period.
  std::optional<Clock::Duration> NextHandOver();
  // After a purge or an open: nothing handed over, nothing on its way.
  void DropDelivered() {
    delivered_ = 0;
    received_ = 0;
    nextDelay_.reset();
    arrivals_.clear();
  }

  Clock& clock_;
  TimingCircuit circuit_;
  Clock::Duration latency_{0};
  bool connected_ = true;
  std::uint32_t chips_ = 1;
  std::uint32_t openIndex_ = 0;  // which chip is open, while one is
  std::optional<Clock::Duration> unplugAt_;
  bool resetFails_ = false;
  bool closeFails_ = false;

  bool open_ = false;
  bool bitBang_ = false;
  std::uint8_t mask_ = 0;
  std::uint8_t latch_ = 0;

  // The stream.
  struct Sample {
    Clock::Duration at;
    std::uint8_t pins;
  };
  struct Pending {
    Clock::Duration at;
    std::uint8_t byte;
  };
  StreamBuffers buffers_;
  const ChipFamily* family_;
  double clockScale_ = 1.0;
  double jitter_ = 0.0;
  double samplesPerSecond_ = 0.0;
  Clock::Duration latencyTimer_{std::chrono::milliseconds(16)};
  double nextSampleNs_ = 0.0;  // when the clock next samples, on the clock's time
  double periodNs_ = 0.0;      // the present sample period, jitter included
  std::uint32_t runLeft_ = 0;  // samples before the period changes again
  std::minstd_rand jitterSource_{20261209};
  std::deque<Sample> samples_;  // taken, not yet read
  std::size_t delivered_ = 0;   // of them, the first that reached the driver
  std::uint32_t inTransferBytes_ = 4096;
  std::optional<HostDelay> hostDelay_;
  bool timesArrivals_ = true;
  std::optional<Clock::Duration> nextDelay_;  // the next transfer's, once drawn
  std::uint64_t received_ = 0;                // samples handed over since the purge
  std::deque<SampleArrival> arrivals_;
  std::deque<Pending> pending_;  // written, not yet clocked out
  std::uint64_t skipped_ = 0;
};

}  // namespace capmeter
