#include "sim/simulated_chip.h"

#include <climits>
#include <cstdint>

namespace capmeter {

namespace {
constexpr std::uint8_t kD1 = 1U << 1;
// Pins nobody drives read high: the chip has pull-ups on its data pins.
constexpr std::uint8_t kPulledUp = 0xFF;
}  // namespace

SimulatedChip::SimulatedChip(Clock& clock, CircuitParts parts) : clock_(clock), circuit_(parts) {}

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
  if (!open_ || handle != Handle()) {
    return sim_status::kInvalidHandle;
  }
  if (Unplugged()) {
    return sim_status::kIoError;
  }
  return std::nullopt;
}

std::uint8_t SimulatedChip::PinLevels() const {
  const std::uint8_t driven = bitBang_ ? mask_ : 0;
  std::uint8_t levels = static_cast<std::uint8_t>((latch_ & driven) | (kPulledUp & ~driven));
  if ((driven & kD1) == 0 && !circuit_.D1High(clock_.Now())) {
    levels = static_cast<std::uint8_t>(levels & ~kD1);  // the timer's output pulls D1 low
  }
  return levels;
}

void SimulatedChip::DriveCircuit() {
  circuit_.Drive(PinLevels(), clock_.Now());
}

FT_STATUS SimulatedChip::FT_Open(std::int32_t deviceIndex, FT_HANDLE* handle) {
  clock_.Wait(latency_);
  if (!connected_ || Unplugged() || deviceIndex != 0) {
    return sim_status::kDeviceNotFound;
  }
  if (open_) {
    return sim_status::kDeviceNotOpened;  // one handle at a time
  }
  if (handle == nullptr) {
    return sim_status::kInvalidParameter;
  }
  open_ = true;
  bitBang_ = false;
  *handle = Handle();
  return kStatusOk;
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
  for (std::uint32_t i = 0; i < bytesToWrite; ++i) {
    latch_ = bytes[i];
    if (bitBang_) {
      DriveCircuit();
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
  *pins = PinLevels();
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

}  // namespace capmeter
