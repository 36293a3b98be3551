#pragma once

#include <stddef.h>
#include <stdint.h>

// The recording area of the stand-in driver library that the binding tests
// load in place of the vendor's. Shared by the stand-in and the tests, which
// reach it through the stand-in's one extra export, standin_state().

enum StandinOperation {
  kStandinOpen,
  kStandinSetBitMode,
  kStandinWrite,
  kStandinGetBitMode,
  kStandinClose,
  kStandinSetBaudRate,
  kStandinSetLatencyTimer,
  kStandinSetUSBParameters,
  kStandinPurge,
  kStandinGetQueueStatus,
  kStandinRead,
  kStandinCreateDeviceInfoList,
  kStandinGetDeviceInfoDetail,
  kStandinOpenEx,
  kStandinSetEventNotification,
  kStandinOperations
};

// One call as it reached the library; fields the operation lacks stay 0.
struct StandinCall {
  int operation;     // a StandinOperation
  void* handle;      // the handle passed in (not for FT_Open)
  int deviceNumber;  // FT_Open's, or FT_GetDeviceInfoDetail's index
  unsigned char mask;
  unsigned char enable;
  unsigned char firstByte;  // FT_Write: the first byte of the buffer
  uint32_t bytesToWrite;
  // The stream's: the baud rate, the latency timer, the IN transfer size,
  // the purge mask or the count to read; FT_OpenEx's flags. Then the OUT
  // transfer size.
  uint32_t argument;
  uint32_t outTransferSize;
  // FT_OpenEx: the serial number asked for, when it asks by one.
  char serialNumber[16];
};

// Its chips, in list order: serial numbers "CM-A" and "CM-B".
enum { kStandinMaxCalls = 64, kStandinQueueSize = 4096, kStandinChips = 2 };

struct StandinState {
  // Set by the test: what each operation answers, by StandinOperation.
  uint32_t statuses[kStandinOperations];
  // Set by the test: reads that see D1 high before it reads low.
  unsigned highReads;
  // Set by the test: no device to open and none listed; the device unplugged
  // (every call fails).
  int noDevice;
  int unplugged;
  // Set by the test: samples that see D1 high from the trigger on (a byte
  // with D0 low and D2 high clocked out); samples each FT_GetQueueStatus
  // adds, 0 for the IN transfer's (256 before FT_SetUSBParameters).
  unsigned highSamples;
  unsigned samplesPerLook;
  // Set by the test: the device type FT_GetDeviceInfoDetail reports.
  uint32_t deviceType;
  // Set by the test: FT_SetEventNotification takes the event. Refused
  // otherwise, as the other tests run on virtual time, which a wait on the
  // library's event would not move.
  int takesEvents;
  // Filled by the stand-in: the event FT_SetEventNotification took, for the
  // test to signal as the library would.
  void* event;

  // Filled by the stand-in. Calls past kStandinMaxCalls are counted only.
  size_t callCount;
  struct StandinCall calls[kStandinMaxCalls];
  unsigned reads;
  unsigned char outputLatch;  // the last byte written
  int open;                   // a handle is out
  int openChip;               // for this chip
  unsigned char mask;         // the direction mask of bit-bang mode
  int bitBang;
  // The stream, once a baud rate is set: written bytes wait to be clocked
  // out, one a sample, from pending[pendingNext]; samples wait for FT_Read.
  uint32_t baudRate;
  uint32_t inTransferSize;
  unsigned char pending[kStandinQueueSize];
  size_t pendingCount;
  size_t pendingNext;
  unsigned char samples[kStandinQueueSize];
  size_t sampleCount;
  unsigned char clockedOut;  // the byte on the pins as the stream sees them
  int triggered;
  unsigned sinceTrigger;  // samples taken since
};

#define STANDIN_HANDLE_VALUE \
  (UINTPTR_MAX > 0xFFFFFFFFu ? (uintptr_t)0x5A000000C0FFEE12ull : 0xC0FFEE12u)

#ifdef __cplusplus
extern "C" {
#endif
typedef struct StandinState* (*StandinStateEntry)(void);
#ifdef __cplusplus
}
#endif
