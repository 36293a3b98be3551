// A stand-in for the vendor's driver library, loaded by path in the binding
// tests. It exports the five operations, the six of the sample stream (and
// FT_SetEventNotification beside them) and the three of the chip list with
// C linkage, records every call and answers as the test set it up, keeping
// the driver library contract: a failing call writes nothing, and an
// invalid or closed handle fails. It holds two chips,
// one open at a time. Built three times: complete, without FT_GetBitMode to
// stand for an incomplete installation, and without the stream's and the
// list's operations to stand for an older library that has only the five.
//
// Its stream is a model just good enough for the stream contract and one
// streamed measurement: every FT_GetQueueStatus takes a few more samples,
// each clocking out the next written byte first, if one waits.
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
#include <string.h>

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
    case kStandinClose:
      fprintf(file, "FT_Close handle=%p\n", call.handle);
      break;
    case kStandinSetBaudRate:
      fprintf(file, "FT_SetBaudRate handle=%p baud=%u\n", call.handle,
              static_cast<unsigned>(call.argument));
      break;
    case kStandinSetLatencyTimer:
      fprintf(file, "FT_SetLatencyTimer handle=%p ms=%u\n", call.handle,
              static_cast<unsigned>(call.argument));
      break;
    case kStandinSetUSBParameters:
      fprintf(file, "FT_SetUSBParameters handle=%p in=%u out=%u\n", call.handle,
              static_cast<unsigned>(call.argument), static_cast<unsigned>(call.outTransferSize));
      break;
    case kStandinPurge:
      fprintf(file, "FT_Purge handle=%p mask=%u\n", call.handle,
              static_cast<unsigned>(call.argument));
      break;
    case kStandinGetQueueStatus:
      fprintf(file, "FT_GetQueueStatus handle=%p\n", call.handle);
      break;
    case kStandinCreateDeviceInfoList:
      fprintf(file, "FT_CreateDeviceInfoList\n");
      break;
    case kStandinGetDeviceInfoDetail:
      fprintf(file, "FT_GetDeviceInfoDetail index=%d\n", call.deviceNumber);
      break;
    case kStandinOpenEx:
      if (call.serialNumber[0] != '\0') {
        fprintf(file, "FT_OpenEx serial=%s\n", call.serialNumber);
      } else {
        fprintf(file, "FT_OpenEx flags=%u\n", static_cast<unsigned>(call.argument));
      }
      break;
    case kStandinSetEventNotification:
      fprintf(file, "FT_SetEventNotification handle=%p mask=%u\n", call.handle,
              static_cast<unsigned>(call.argument));
      break;
    default:
      fprintf(file, "FT_Read handle=%p length=%u\n", call.handle,
              static_cast<unsigned>(call.argument));
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

constexpr unsigned char kD1 = 0x02;

// The pins: the outputs as `latch` has them, the inputs high but D1 as the
// timer drives it.
unsigned char Pins(unsigned char latch, bool d1High) {
  const unsigned levels = (latch & state.mask) | (0xFFu & ~state.mask);
  return static_cast<unsigned char>(d1High ? levels | kD1 : levels & ~kD1);
}

bool Streaming() {
  return state.baudRate != 0 && state.bitBang;
}

bool NoChips() {
  return state.noDevice || state.unplugged;
}

// Hands out the one handle for chip `index`, with the chip as it powers up.
uint32_t OpenChip(int index, void** pHandle) {
  if (NoChips() || index < 0 || index >= kStandinChips) {
    return kDeviceNotFound;
  }
  state.open = 1;
  state.openChip = index;
  state.mask = 0;
  state.bitBang = 0;
  state.baudRate = 0;
  state.inTransferSize = 0;
  state.pendingCount = state.pendingNext = state.sampleCount = 0;
  *pHandle = reinterpret_cast<void*>(STANDIN_HANDLE_VALUE);
  return 0;
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
  return OpenChip(deviceNumber, pHandle);
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
    state.bitBang = enable != 0;
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
  uint32_t status = Admit(kStandinWrite, handle);
  const bool clocked = Streaming();
  if (status == 0 && clocked && state.pendingCount + bytesToWrite > kStandinQueueSize) {
    status = kIoError;
  }
  if (status == 0) {
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    if (bytesToWrite > 0) {
      state.outputLatch = bytes[bytesToWrite - 1];
    }
    for (uint32_t i = 0; clocked && i < bytesToWrite; ++i) {
      state.pending[state.pendingCount++] = bytes[i];
    }
    *bytesWritten = bytesToWrite;
  }
  return status;
}

#ifndef STANDIN_LACKS_GET_BIT_MODE
// The outputs as last written; inputs read high, but D1 is high only for the
// first highReads reads.
STANDIN_EXPORT uint32_t STANDIN_CALL FT_GetBitMode(void* handle, unsigned char* pins) {
  AppendToCallRecord(Record(kStandinGetBitMode, handle));
  const uint32_t status = Admit(kStandinGetBitMode, handle);
  if (status == 0) {
    *pins = Pins(state.outputLatch, state.reads++ < state.highReads);
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

// The stream and the chip list, which the older library lacks.
#ifndef STANDIN_LACKS_STREAM
namespace {

constexpr unsigned kSamplesPerLook = 256;

bool IsTrigger(unsigned char byte) {
  return (byte & 0x05) == 0x04;  // D0 low, D2 high
}

// The next sample, clocking out the next written byte first, if one waits.
// D1 is high for highSamples samples from the trigger on.
unsigned char TakeSample() {
  if (state.pendingNext < state.pendingCount) {
    const unsigned char byte = state.pending[state.pendingNext++];
    if (IsTrigger(byte) && !IsTrigger(state.clockedOut)) {
      state.triggered = 1;
      state.sinceTrigger = 0;
    }
    state.clockedOut = byte;
    if (state.pendingNext == state.pendingCount) {
      state.pendingNext = state.pendingCount = 0;
    }
  }
  const bool high = state.triggered && state.sinceTrigger++ < state.highSamples;
  return Pins(state.clockedOut, high);
}

// A call with plain arguments: recorded with them, then admitted.
uint32_t RecordAndAdmit(StandinOperation operation, void* handle, uint32_t argument,
                        uint32_t outTransferSize = 0) {
  StandinCall& call = Record(operation, handle);
  call.argument = argument;
  call.outTransferSize = outTransferSize;
  AppendToCallRecord(call);
  return Admit(operation, handle);
}

}  // namespace

STANDIN_EXPORT uint32_t STANDIN_CALL FT_SetBaudRate(void* handle, uint32_t baudRate) {
  const uint32_t status = RecordAndAdmit(kStandinSetBaudRate, handle, baudRate);
  if (status == 0) {
    state.baudRate = baudRate;
  }
  return status;
}

STANDIN_EXPORT uint32_t STANDIN_CALL FT_SetLatencyTimer(void* handle, unsigned char milliseconds) {
  return RecordAndAdmit(kStandinSetLatencyTimer, handle, milliseconds);
}

STANDIN_EXPORT uint32_t STANDIN_CALL FT_SetUSBParameters(void* handle, uint32_t inTransferSize,
                                                         uint32_t outTransferSize) {
  const uint32_t status =
      RecordAndAdmit(kStandinSetUSBParameters, handle, inTransferSize, outTransferSize);
  if (status == 0) {
    state.inTransferSize = inTransferSize;
  }
  return status;
}

STANDIN_EXPORT uint32_t STANDIN_CALL FT_Purge(void* handle, uint32_t mask) {
  const uint32_t status = RecordAndAdmit(kStandinPurge, handle, mask);
  if (status == 0 && (mask & 1) != 0) {
    state.sampleCount = 0;
  }
  if (status == 0 && (mask & 2) != 0) {
    state.pendingCount = state.pendingNext = 0;
  }
  return status;
}

STANDIN_EXPORT uint32_t STANDIN_CALL FT_GetQueueStatus(void* handle, uint32_t* bytesQueued) {
  AppendToCallRecord(Record(kStandinGetQueueStatus, handle));
  const uint32_t status = Admit(kStandinGetQueueStatus, handle);
  if (status == 0) {
    // One whole transfer a look, its 64-byte packets' modem status left out,
    // as a real driver hands samples over.
    const unsigned transfer = state.inTransferSize / 64 * 62;
    const unsigned look = state.samplesPerLook != 0 ? state.samplesPerLook
                          : transfer != 0           ? transfer
                                                    : kSamplesPerLook;
    // Sampling stops while the queue is full, as the chip's does.
    for (unsigned i = 0; Streaming() && i < look && state.sampleCount < kStandinQueueSize; ++i) {
      state.samples[state.sampleCount++] = TakeSample();
    }
    *bytesQueued = static_cast<uint32_t>(state.sampleCount);
  }
  return status;
}

STANDIN_EXPORT uint32_t STANDIN_CALL FT_SetEventNotification(void* handle, uint32_t mask,
                                                             void* event) {
  const uint32_t status = RecordAndAdmit(kStandinSetEventNotification, handle, mask);
  if (status != 0) {
    return status;
  }
  if (!state.takesEvents) {
    return kIoError;
  }
  state.event = event;
  return 0;
}

STANDIN_EXPORT uint32_t STANDIN_CALL FT_Read(void* handle, void* buffer, uint32_t bytesToRead,
                                             uint32_t* bytesReturned) {
  StandinCall& call = Record(kStandinRead, handle);
  call.argument = bytesToRead;
  AppendToCallRecord(call);
  const uint32_t status = Admit(kStandinRead, handle);
  if (status == 0) {
    const size_t count = bytesToRead < state.sampleCount ? bytesToRead : state.sampleCount;
    if (count > 0) {
      memcpy(buffer, state.samples, count);
      memmove(state.samples, state.samples + count, state.sampleCount - count);
      state.sampleCount -= count;
    }
    *bytesReturned = static_cast<uint32_t>(count);
  }
  return status;
}

// The chip list.
namespace {

constexpr uint32_t kInvalidParameter = 6;

struct StandinChip {
  const char* serialNumber;
  const char* description;
  uint32_t locId;
};

constexpr StandinChip kChips[kStandinChips] = {
    {"CM-A", "Capmeter stand-in A", 0x11},
    {"CM-B", "Capmeter stand-in B", 0x12},
};

constexpr uint32_t kOpenBySerialNumber = 1;
constexpr uint32_t kOpenedFlag = 1;
constexpr uint32_t kSerialNumberSize = 16;
constexpr uint32_t kDescriptionSize = 64;

// `text` into `buffer` of `size` bytes, cut short to end with a zero.
void CopyText(char* buffer, size_t size, const char* text) {
  size_t length = 0;
  for (; length + 1 < size && text[length] != '\0'; ++length) {
    buffer[length] = text[length];
  }
  buffer[length] = '\0';
}

}  // namespace

STANDIN_EXPORT uint32_t STANDIN_CALL FT_CreateDeviceInfoList(uint32_t* numDevs) {
  AppendToCallRecord(Record(kStandinCreateDeviceInfoList, nullptr));
  if (state.statuses[kStandinCreateDeviceInfoList] != 0) {
    return state.statuses[kStandinCreateDeviceInfoList];
  }
  *numDevs = NoChips() ? 0 : kStandinChips;
  return 0;
}

STANDIN_EXPORT uint32_t STANDIN_CALL FT_GetDeviceInfoDetail(uint32_t index, uint32_t* flags,
                                                            uint32_t* type, uint32_t* id,
                                                            uint32_t* locId, char* serialNumber,
                                                            char* description, void** pHandle) {
  StandinCall& call = Record(kStandinGetDeviceInfoDetail, nullptr);
  call.deviceNumber = static_cast<int>(index);
  AppendToCallRecord(call);
  if (state.statuses[kStandinGetDeviceInfoDetail] != 0) {
    return state.statuses[kStandinGetDeviceInfoDetail];
  }
  if (NoChips() || index >= kStandinChips) {
    return kDeviceNotFound;
  }
  const StandinChip& chip = kChips[index];
  const bool opened = state.open && state.openChip == static_cast<int>(index);
  *flags = opened ? kOpenedFlag : 0;
  *type = state.deviceType;
  *id = 0x12345678;  // USB ID 1234:5678
  *locId = chip.locId;
  CopyText(serialNumber, kSerialNumberSize, chip.serialNumber);
  CopyText(description, kDescriptionSize, chip.description);
  *pHandle = opened ? reinterpret_cast<void*>(STANDIN_HANDLE_VALUE) : nullptr;
  return 0;
}

STANDIN_EXPORT uint32_t STANDIN_CALL FT_OpenEx(void* arg, uint32_t flags, void** pHandle) {
  StandinCall& call = Record(kStandinOpenEx, nullptr);
  call.argument = flags;
  if (flags == kOpenBySerialNumber) {
    CopyText(call.serialNumber, sizeof call.serialNumber, static_cast<const char*>(arg));
  }
  AppendToCallRecord(call);
  if (state.statuses[kStandinOpenEx] != 0) {
    return state.statuses[kStandinOpenEx];
  }
  if (flags != kOpenBySerialNumber) {
    return kInvalidParameter;
  }
  for (int i = 0; i < kStandinChips; ++i) {
    if (strcmp(static_cast<const char*>(arg), kChips[i].serialNumber) == 0) {
      return OpenChip(i, pHandle);
    }
  }
  return kDeviceNotFound;
}
#endif
