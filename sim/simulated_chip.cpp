#include "sim/simulated_chip.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <limits>

namespace capmeter {

namespace {
constexpr std::uint8_t kD1 = 1U << 1;
// Pins nobody drives read high: the chip has pull-ups on its data pins.
constexpr std::uint8_t kPulledUp = 0xFF;
constexpr std::uint32_t kModemStatusBytes = 2;

Clock::Duration Nanoseconds(double ns) {
  return Clock::Duration(static_cast<Clock::Duration::rep>(std::ceil(ns)));
}
}  // namespace

SimulatedChip::SimulatedChip(Clock& clock, CircuitParts parts)
    : clock_(clock), circuit_(parts), family_(FamilyForBcdDevice(kSimulatedFamily)) {
  SetFamily(*family_);
}

void SimulatedChip::SetFamily(const ChipFamily& family) {
  family_ = &family;
  buffers_.chipFifo = family.fifoToHost;
  buffers_.packetSize = family.packetSize;
}

FamilyReport SimulatedChip::FamilyOf(FT_HANDLE handle) {
  if (!open_ || handle != Handle()) {
    return DriverLibrary::FamilyOf(handle);
  }
  return {family_, true, "device type " + std::to_string(family_->deviceType) + " as simulated"};
}

FT_HANDLE SimulatedChip::Handle() {
  constexpr std::uintptr_t kLowHalf = 0xC0FFEE;
  constexpr std::uintptr_t kHighMark = std::uintptr_t{0x5A}
                                       << (sizeof(std::uintptr_t) * CHAR_BIT - 8);
  return reinterpret_cast<FT_HANDLE>(kHighMark | kLowHalf);
}

bool SimulatedChip::Unplugged() const {
  return unplugAt_ && clock_.Now() >= *unplugAt_;
}

std::optional<FT_STATUS> SimulatedChip::BeginCall(FT_HANDLE handle) {
  clock_.Wait(latency_);
  return Admit(handle);
}

std::optional<FT_STATUS> SimulatedChip::Admit(FT_HANDLE handle) {
  if (!open_ || handle != Handle()) {
    return sim_status::kInvalidHandle;
  }
  if (Unplugged()) {
    return sim_status::kIoError;
  }
  AdvanceStream();
  return std::nullopt;
}

std::uint8_t SimulatedChip::PinLevels(Clock::Duration at) const {
  const std::uint8_t driven = bitBang_ ? mask_ : 0;
  std::uint8_t levels = static_cast<std::uint8_t>((latch_ & driven) | (kPulledUp & ~driven));
  if ((driven & kD1) == 0 && !circuit_.D1High(at)) {
    levels = static_cast<std::uint8_t>(levels & ~kD1);  // the timer's output pulls D1 low
  }
  return levels;
}

void SimulatedChip::DriveCircuit() {
  circuit_.Drive(PinLevels(clock_.Now()), clock_.Now());
}

void SimulatedChip::ClockOut(std::uint8_t byte, Clock::Duration at) {
  latch_ = byte;
  if (bitBang_) {
    circuit_.Drive(PinLevels(at), at);
  }
}

double SimulatedChip::NextPeriod() {
  if (runLeft_ == 0) {
    runLeft_ = kJitterRun;
    double factor = 1.0;
    if (jitter_ > 0.0) {
      factor += std::uniform_real_distribution<double>(-jitter_, jitter_)(jitterSource_);
    }
    if (!family_->ClockTrusted()) {
      factor *= std::uniform_real_distribution<double>(family_->shortestPeriodFraction,
                                                       1.0)(jitterSource_);
    }
    periodNs_ = 1e9 / samplesPerSecond_ * factor;
  }
  --runLeft_;
  return periodNs_;
}

void SimulatedChip::AdvanceStream() {
  if (samplesPerSecond_ <= 0.0) {
    return;
  }
  const double now = static_cast<double>(clock_.Now().count());
  const std::size_t capacity = std::size_t{buffers_.chipFifo} + buffers_.driverBuffer;
  constexpr double kNever = std::numeric_limits<double>::infinity();
  for (;;) {
    const double nextOut =
        pending_.empty() ? kNever : static_cast<double>(pending_.front().at.count());
    const double nextSample = bitBang_ ? nextSampleNs_ : kNever;
    if (std::min(nextOut, nextSample) > now) {
      break;
    }
    if (nextOut <= nextSample) {
      ClockOut(pending_.front().byte, pending_.front().at);
      pending_.pop_front();
    } else if (samples_.size() < capacity) {
      const Clock::Duration at = Nanoseconds(nextSample);
      samples_.push_back({at, PinLevels(at)});
      nextSampleNs_ += NextPeriod();
    } else {
      // Full: the clock's ticks pass unsampled until the host makes room.
      // Skipped a run at a time, so a long stall costs little.
      const double until = std::min(now, nextOut);
      const double ticks = std::floor((until - nextSample) / periodNs_) + 1.0;
      const auto skip = static_cast<std::uint32_t>(
          std::max(1.0, std::min(ticks, static_cast<double>(std::max(runLeft_, 1U)))));
      for (std::uint32_t i = 0; i < skip; ++i) {
        nextSampleNs_ += NextPeriod();
      }
      skipped_ += skip;
    }
  }
}

std::uint32_t SimulatedChip::Deliverable() {
  if (samples_.empty()) {
    return 0;
  }
  const double periodNs = 1e9 / samplesPerSecond_;
  const double payload = buffers_.packetSize - kModemStatusBytes;
  const double packetFillNs = payload * periodNs;
  const Clock::Duration now = clock_.Now();
  const auto takenBy = [this](std::size_t from, Clock::Duration t) {
    return static_cast<std::size_t>(
        std::upper_bound(samples_.begin() + static_cast<std::ptrdiff_t>(from), samples_.end(), t,
                         [](Clock::Duration at, const Sample& s) { return at < s.at; }) -
        samples_.begin());
  };
  if (!buffers_.wholeTransfers) {
    const Clock::Duration delay = std::min(latencyTimer_, Nanoseconds(std::max(packetFillNs, 0.0)));
    return static_cast<std::uint32_t>(takenBy(0, now - delay));
  }
  const bool shortPackets = Nanoseconds(packetFillNs) > latencyTimer_;
  const auto transferSamples = static_cast<std::size_t>(
      std::max(1.0, inTransferBytes_ / static_cast<double>(buffers_.packetSize) * payload));
  while (delivered_ < samples_.size()) {
    std::size_t end = 0;
    Clock::Duration completed{0};
    if (shortPackets) {
      // The latency timer sends what the packet holds, which ends the transfer.
      completed = samples_[delivered_].at + latencyTimer_;
      if (completed > now) break;
      end = takenBy(delivered_, completed);
    } else {
      end = delivered_ + transferSamples;
      if (end > samples_.size()) break;
      completed = samples_[end - 1].at;
    }
    if (!nextDelay_) nextDelay_ = hostDelay_ ? hostDelay_->Next() : Clock::Duration{0};
    const Clock::Duration handedOver = completed + *nextDelay_;
    if (handedOver > now) break;
    nextDelay_.reset();
    received_ += end - delivered_;
    delivered_ = end;
    if (arrivals_.size() == std::size_t{1} << 16) arrivals_.pop_front();
    arrivals_.push_back({handedOver, received_});
  }
  return static_cast<std::uint32_t>(delivered_);
}

std::optional<Clock::Duration> SimulatedChip::NextHandOver() {
  if (samplesPerSecond_ <= 0.0 || !bitBang_) {
    return std::nullopt;
  }
  const double periodNs = periodNs_ > 0.0 ? periodNs_ : 1e9 / samplesPerSecond_;
  // When sample `index` is (or will be) taken.
  const auto takenAt = [&](std::size_t index) {
    if (index < samples_.size()) return samples_[index].at;
    return Nanoseconds(nextSampleNs_ + static_cast<double>(index - samples_.size()) * periodNs);
  };
  const double payload = buffers_.packetSize - kModemStatusBytes;
  const Clock::Duration packetFill = Nanoseconds(payload * periodNs);
  if (!buffers_.wholeTransfers) {
    return takenAt(delivered_) + std::min(latencyTimer_, packetFill);
  }
  if (!nextDelay_) nextDelay_ = hostDelay_ ? hostDelay_->Next() : Clock::Duration{0};
  if (packetFill > latencyTimer_) {
    return takenAt(delivered_) + latencyTimer_ + *nextDelay_;
  }
  const auto transferSamples = static_cast<std::size_t>(
      std::max(1.0, inTransferBytes_ / static_cast<double>(buffers_.packetSize) * payload));
  return takenAt(delivered_ + transferSamples - 1) + *nextDelay_;
}

bool SimulatedChip::WaitForSamples(FT_HANDLE handle, std::chrono::nanoseconds most) {
  if (Admit(handle) || Deliverable() > 0) {
    return true;
  }
  const Clock::Duration now = clock_.Now();
  const std::optional<Clock::Duration> due = NextHandOver();
  // At least a nanosecond, so a foresight a little early still moves time.
  clock_.Wait(due ? std::min(most, std::max(*due - now, Clock::Duration{1})) : most);
  return true;
}

bool SimulatedChip::TakeArrivals(FT_HANDLE handle, std::vector<SampleArrival>& into) {
  if (Admit(handle)) {
    return false;
  }
  if (buffers_.wholeTransfers) Deliverable();
  into.insert(into.end(), arrivals_.begin(), arrivals_.end());
  arrivals_.clear();
  return buffers_.wholeTransfers && timesArrivals_;
}

FT_STATUS SimulatedChip::FT_Open(std::int32_t deviceIndex, FT_HANDLE* handle) {
  clock_.Wait(latency_);
  if (!connected_ || Unplugged() || deviceIndex < 0 ||
      static_cast<std::uint32_t>(deviceIndex) >= chips_) {
    return sim_status::kDeviceNotFound;
  }
  if (open_) {
    return sim_status::kDeviceNotOpened;  // one handle at a time
  }
  if (handle == nullptr) {
    return sim_status::kInvalidParameter;
  }
  open_ = true;
  openIndex_ = static_cast<std::uint32_t>(deviceIndex);
  bitBang_ = false;
  samplesPerSecond_ = 0.0;
  latencyTimer_ = std::chrono::milliseconds(16);
  samples_.clear();
  DropDelivered();
  pending_.clear();
  *handle = Handle();
  return kStatusOk;
}

std::string SimulatedChip::SerialNumber(std::uint32_t index) {
  return "SIM-" + std::to_string(index + 1);
}

FT_STATUS SimulatedChip::FT_CreateDeviceInfoList(std::uint32_t* count) {
  clock_.Wait(latency_);
  if (count == nullptr) {
    return sim_status::kInvalidParameter;
  }
  *count = connected_ && !Unplugged() ? chips_ : 0;
  return kStatusOk;
}

FT_STATUS SimulatedChip::FT_GetDeviceInfoDetail(std::uint32_t index, DeviceInfo* info) {
  if (!connected_ || Unplugged() || index >= chips_) {
    return sim_status::kDeviceNotFound;
  }
  if (info == nullptr) {
    return sim_status::kInvalidParameter;
  }
  info->flags = (open_ && openIndex_ == index ? kDeviceOpened : 0) |
                (family_->speed == BusSpeed::High ? kDeviceHighSpeed : 0);
  info->locId = 0;
  info->serialNumber = SerialNumber(index);
  info->description = "Simulated capacitance meter";
  info->location = "simulated";
  return kStatusOk;
}

FT_STATUS SimulatedChip::FT_OpenEx(const std::string& serialNumber, std::uint32_t openBy,
                                   FT_HANDLE* handle) {
  if (openBy != kOpenBySerialNumber) {
    return sim_status::kInvalidParameter;
  }
  for (std::uint32_t index = 0; index < chips_; ++index) {
    if (SerialNumber(index) == serialNumber) {
      return FT_Open(static_cast<std::int32_t>(index), handle);
    }
  }
  clock_.Wait(latency_);
  return sim_status::kDeviceNotFound;
}

FT_STATUS SimulatedChip::FT_SetBitMode(FT_HANDLE handle, std::uint8_t mask, std::uint8_t enable) {
  if (const auto failure = BeginCall(handle)) {
    return *failure;
  }
  if (enable == 0) {
    if (resetFails_) {
      return sim_status::kIoError;
    }
    bitBang_ = false;
  } else {
    if (!bitBang_) {
      nextSampleNs_ = std::max(nextSampleNs_, static_cast<double>(clock_.Now().count()));
    }
    bitBang_ = true;
    mask_ = mask;
  }
  DriveCircuit();
  return kStatusOk;
}

FT_STATUS SimulatedChip::FT_Write(FT_HANDLE handle, const void* buffer, std::uint32_t bytesToWrite,
                                  std::uint32_t* bytesWritten) {
  if (const auto failure = BeginCall(handle)) {
    return *failure;
  }
  if ((buffer == nullptr && bytesToWrite > 0) || bytesWritten == nullptr) {
    return sim_status::kInvalidParameter;
  }
  const auto* bytes = static_cast<const std::uint8_t*>(buffer);
  if (samplesPerSecond_ > 0.0) {
    // Clocked out one per sample period, after whatever still waits, from
    // the next tick not yet sampled: each byte is then sampled once.
    const double periodNs = 1e9 / samplesPerSecond_;
    double at = static_cast<double>(clock_.Now().count());
    if (bitBang_) {
      at = std::max(at, nextSampleNs_);
    }
    if (!pending_.empty()) {
      at = std::max(at, static_cast<double>(pending_.back().at.count()) + periodNs);
    }
    for (std::uint32_t i = 0; i < bytesToWrite; ++i, at += periodNs) {
      pending_.push_back({Nanoseconds(at), bytes[i]});
    }
    AdvanceStream();
  } else {
    for (std::uint32_t i = 0; i < bytesToWrite; ++i) {
      latch_ = bytes[i];
      if (bitBang_) {
        DriveCircuit();
      }
    }
  }
  *bytesWritten = bytesToWrite;
  return kStatusOk;
}

FT_STATUS SimulatedChip::FT_GetBitMode(FT_HANDLE handle, std::uint8_t* pins) {
  if (const auto failure = BeginCall(handle)) {
    return *failure;
  }
  if (pins == nullptr) {
    return sim_status::kInvalidParameter;
  }
  *pins = PinLevels(clock_.Now());
  return kStatusOk;
}

FT_STATUS SimulatedChip::FT_Close(FT_HANDLE handle) {
  if (const auto failure = BeginCall(handle)) {
    return *failure;
  }
  if (closeFails_) {
    return sim_status::kIoError;
  }
  open_ = false;
  bitBang_ = false;
  return kStatusOk;
}

FT_STATUS SimulatedChip::FT_SetBaudRate(FT_HANDLE handle, std::uint32_t baudRate) {
  if (const auto failure = BeginCall(handle)) {
    return *failure;
  }
  const std::uint32_t fastestBaud = family_->twelveMegahertzBase ? 12'000'000 : 3'000'000;
  if (baudRate == 0 || baudRate > fastestBaud) {
    return sim_status::kInvalidParameter;
  }
  SetSampleRate(SampleRateForBaud(*family_, baudRate));
  return kStatusOk;
}

void SimulatedChip::SetSampleRate(double samplesPerSecond) {
  if (samplesPerSecond_ <= 0.0) {
    nextSampleNs_ = static_cast<double>(clock_.Now().count());
  }
  samplesPerSecond_ = samplesPerSecond * clockScale_;
  runLeft_ = 0;  // the new period from the next sample on
}

FT_STATUS SimulatedChip::FT_SetLatencyTimer(FT_HANDLE handle, std::uint8_t milliseconds) {
  if (const auto failure = BeginCall(handle)) {
    return *failure;
  }
  if (milliseconds == 0) {
    return sim_status::kInvalidParameter;
  }
  latencyTimer_ = std::chrono::milliseconds(milliseconds);
  return kStatusOk;
}

FT_STATUS SimulatedChip::FT_SetUSBParameters(FT_HANDLE handle, std::uint32_t inTransferSize,
                                             std::uint32_t outTransferSize) {
  if (const auto failure = BeginCall(handle)) {
    return *failure;
  }
  constexpr std::uint32_t kLargest = 64 * 1024;
  for (const std::uint32_t size : {inTransferSize, outTransferSize}) {
    if (size < 64 || size > kLargest || size % 64 != 0) {
      return sim_status::kInvalidParameter;
    }
  }
  inTransferBytes_ = inTransferSize;
  return kStatusOk;
}

FT_STATUS SimulatedChip::FT_Purge(FT_HANDLE handle, std::uint32_t mask) {
  if (const auto failure = BeginCall(handle)) {
    return *failure;
  }
  if (mask == 0 || (mask & ~(kPurgeReceive | kPurgeTransmit)) != 0) {
    return sim_status::kInvalidParameter;
  }
  if ((mask & kPurgeReceive) != 0) {
    samples_.clear();
    DropDelivered();
  }
  if ((mask & kPurgeTransmit) != 0) {
    pending_.clear();
  }
  return kStatusOk;
}

FT_STATUS SimulatedChip::FT_GetQueueStatus(FT_HANDLE handle, std::uint32_t* bytesQueued) {
  if (const auto failure = Admit(handle)) {
    return *failure;
  }
  if (bytesQueued == nullptr) {
    return sim_status::kInvalidParameter;
  }
  *bytesQueued = Deliverable();
  return kStatusOk;
}

FT_STATUS SimulatedChip::FT_Read(FT_HANDLE handle, void* buffer, std::uint32_t bytesToRead,
                                 std::uint32_t* bytesReturned) {
  if (const auto failure = Admit(handle)) {
    return *failure;
  }
  if ((buffer == nullptr && bytesToRead > 0) || bytesReturned == nullptr) {
    return sim_status::kInvalidParameter;
  }
  const std::uint32_t count = std::min(bytesToRead, Deliverable());
  auto* bytes = static_cast<std::uint8_t*>(buffer);
  for (std::uint32_t i = 0; i < count; ++i) {
    bytes[i] = samples_.front().pins;
    samples_.pop_front();
  }
  delivered_ -= std::min<std::size_t>(delivered_, count);
  *bytesReturned = count;
  return kStatusOk;
}

}  // namespace capmeter
