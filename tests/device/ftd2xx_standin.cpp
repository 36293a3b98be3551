// A stand-in for the vendor's driver library, loaded by path in the binding
// tests. It exports the five operations with C linkage, records every call
// and answers as the test set it up, keeping the driver library contract:
// a failing call writes nothing, and an invalid or closed handle fails. Built
// twice: complete, and without FT_GetBitMode to stand for an incomplete
// installation.
//
// On Windows it is a DLL exporting the operations as the real library does:
// with the stdcall convention, under their plain names (the build strips the
// "@8" that 32-bit stdcall names otherwise carry). On 64-bit Windows there
// is one convention and the keyword is ignored.
//
// A test that runs a whole program on it (under the library's own name) reads
// the calls afterwards from the file named by CAPMETER_STANDIN_CALL_RECORD, to
// which each call is appended as one line as it reaches the library.

#include "tests/device/ftd2xx_standin.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#if defined(_WIN32)
#define STANDIN_EXPORT extern "C" __declspec(dllexport)
#define STANDIN_CALL __stdcall
#else
#define STANDIN_EXPORT extern "C" __attribute__((visibility("default")))
#define STANDIN_CALL
#endif

namespace {

constexpr uint32_t kInvalidHandle = 1;
constexpr uint32_t kDeviceNotFound = 2;
constexpr uint32_t kIoError = 4;

StandinState state;

// One line, with the file closed again at once so that nothing is lost if
// the program ends right after the call.
void AppendToCallRecord(const StandinCall& call) {
  const char* path = getenv("CAPMETER_STANDIN_CALL_RECORD");
  if (path == nullptr || *path == '\0') {
    return;
  }
  FILE* file = fopen(path, "a");
  if (file == nullptr) {
    return;
  }
  switch (call.operation) {
    case kStandinOpen:
      fprintf(file, "FT_Open index=%d\n", call.deviceNumber);
      break;
    case kStandinSetBitMode:
      fprintf(file, "FT_SetBitMode handle=%p mask=%02x enable=%02x\n", call.handle, call.mask,
              call.enable);
      break;
    case kStandinWrite:
      fprintf(file, "FT_Write handle=%p byte=%02x length=%u\n", call.handle, call.firstByte,
              static_cast<unsigned>(call.bytesToWrite));
      break;
    case kStandinGetBitMode:
      fprintf(file, "FT_GetBitMode handle=%p\n", call.handle);
      break;
    default:
      fprintf(file, "FT_Close handle=%p\n", call.handle);
      break;
  }
  fclose(file);
}

StandinCall& Record(StandinOperation operation, void* handle) {
  static StandinCall overflow;
  StandinCall& call = state.callCount < kStandinMaxCalls ? state.calls[state.callCount] : overflow;
  ++state.callCount;
  call = StandinCall{};
  call.operation = operation;
  call.handle = handle;
  return call;
}

// The status of a call on `handle`: the one the test chose, else what the
// handle and the device allow; 0 lets the call go ahead.
uint32_t Admit(StandinOperation operation, void* handle) {
  if (state.statuses[operation] != 0) {
    return state.statuses[operation];
  }
  if (!state.open || handle != reinterpret_cast<void*>(STANDIN_HANDLE_VALUE)) {
    return kInvalidHandle;
  }
  return state.unplugged ? kIoError : 0;
}

}  // namespace

STANDIN_EXPORT StandinState* standin_state(void) {
  return &state;
}

STANDIN_EXPORT uint32_t STANDIN_CALL FT_Open(int deviceNumber, void** pHandle) {
  StandinCall& call = Record(kStandinOpen, nullptr);
  call.deviceNumber = deviceNumber;
  AppendToCallRecord(call);
  if (state.statuses[kStandinOpen] != 0) {
    return state.statuses[kStandinOpen];
  }
  if (state.noDevice || state.unplugged || deviceNumber != 0) {
    return kDeviceNotFound;
  }
  state.open = 1;
  state.mask = 0;
  *pHandle = reinterpret_cast<void*>(STANDIN_HANDLE_VALUE);
  return 0;
}

STANDIN_EXPORT uint32_t STANDIN_CALL FT_SetBitMode(void* handle, unsigned char mask,
                                                   unsigned char enable) {
  StandinCall& call = Record(kStandinSetBitMode, handle);
  call.mask = mask;
  call.enable = enable;
  AppendToCallRecord(call);
  const uint32_t status = Admit(kStandinSetBitMode, handle);
  if (status == 0) {
    state.mask = enable != 0 ? mask : 0;
  }
  return status;
}

STANDIN_EXPORT uint32_t STANDIN_CALL FT_Write(void* handle, void* buffer, uint32_t bytesToWrite,
                                              uint32_t* bytesWritten) {
  StandinCall& call = Record(kStandinWrite, handle);
  call.bytesToWrite = bytesToWrite;
  if (bytesToWrite > 0) {
    call.firstByte = static_cast<const unsigned char*>(buffer)[0];
  }
  AppendToCallRecord(call);
  const uint32_t status = Admit(kStandinWrite, handle);
  if (status == 0) {
    if (bytesToWrite > 0) {
      state.outputLatch = static_cast<const unsigned char*>(buffer)[bytesToWrite - 1];
    }
    *bytesWritten = bytesToWrite;
  }
  return status;
}

#ifndef STANDIN_LACKS_GET_BIT_MODE
constexpr unsigned char kD1 = 0x02;

// The outputs as last written; inputs read high, but D1 is high only for the
// first highReads reads.
STANDIN_EXPORT uint32_t STANDIN_CALL FT_GetBitMode(void* handle, unsigned char* pins) {
  AppendToCallRecord(Record(kStandinGetBitMode, handle));
  const uint32_t status = Admit(kStandinGetBitMode, handle);
  if (status == 0) {
    const bool high = state.reads++ < state.highReads;
    const unsigned levels = (state.outputLatch & state.mask) | (0xFFu & ~state.mask);
    *pins = static_cast<unsigned char>(high ? levels | kD1 : levels & ~kD1);
  }
  return status;
}
#endif

STANDIN_EXPORT uint32_t STANDIN_CALL FT_Close(void* handle) {
  AppendToCallRecord(Record(kStandinClose, handle));
  const uint32_t status = Admit(kStandinClose, handle);
  if (status == 0) {
    state.open = 0;
  }
  return status;
}
