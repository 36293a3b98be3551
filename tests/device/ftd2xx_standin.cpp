// A stand-in for the vendor's driver library, loaded by path in the binding
// tests. It exports the five operations with C linkage, records every call
// and answers as the test set it up. Built twice: complete, and without
// FT_GetBitMode to stand for an incomplete installation.

#include "tests/device/ftd2xx_standin.h"

#include <stdint.h>

#define STANDIN_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr unsigned char kD1 = 0x02;

StandinState state;

StandinCall& Record(StandinOperation operation, void* handle) {
  static StandinCall overflow;
  StandinCall& call = state.callCount < kStandinMaxCalls ? state.calls[state.callCount] : overflow;
  ++state.callCount;
  call = StandinCall{};
  call.operation = operation;
  call.handle = handle;
  return call;
}

}  // namespace

STANDIN_EXPORT StandinState* standin_state(void) {
  return &state;
}

STANDIN_EXPORT uint32_t FT_Open(int deviceNumber, void** pHandle) {
  Record(kStandinOpen, nullptr).deviceNumber = deviceNumber;
  if (state.statuses[kStandinOpen] == 0) {
    *pHandle = reinterpret_cast<void*>(STANDIN_HANDLE_VALUE);
  }
  return state.statuses[kStandinOpen];
}

STANDIN_EXPORT uint32_t FT_SetBitMode(void* handle, unsigned char mask, unsigned char enable) {
  StandinCall& call = Record(kStandinSetBitMode, handle);
  call.mask = mask;
  call.enable = enable;
  return state.statuses[kStandinSetBitMode];
}

STANDIN_EXPORT uint32_t FT_Write(void* handle, void* buffer, uint32_t bytesToWrite,
                                 uint32_t* bytesWritten) {
  StandinCall& call = Record(kStandinWrite, handle);
  call.bytesToWrite = bytesToWrite;
  if (bytesToWrite > 0) {
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    call.firstByte = bytes[0];
    state.outputLatch = bytes[bytesToWrite - 1];
  }
  *bytesWritten = bytesToWrite;
  return state.statuses[kStandinWrite];
}

#ifndef STANDIN_LACKS_GET_BIT_MODE
// The outputs as last written, with D1 high for the first highReads reads.
STANDIN_EXPORT uint32_t FT_GetBitMode(void* handle, unsigned char* pins) {
  Record(kStandinGetBitMode, handle);
  const bool high = state.reads++ < state.highReads;
  *pins = static_cast<unsigned char>(high ? state.outputLatch | kD1 : state.outputLatch & ~kD1);
  return state.statuses[kStandinGetBitMode];
}
#endif

STANDIN_EXPORT uint32_t FT_Close(void* handle) {
  Record(kStandinClose, handle);
  return state.statuses[kStandinClose];
}
