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
  kStandinOperations
};

// One call as it reached the library; fields the operation lacks stay 0.
struct StandinCall {
  int operation;  // a StandinOperation
  void* handle;   // the handle passed in (not for FT_Open)
  int deviceNumber;
  unsigned char mask;
  unsigned char enable;
  unsigned char firstByte;  // FT_Write: the first byte of the buffer
  uint32_t bytesToWrite;
};

enum { kStandinMaxCalls = 64 };

struct StandinState {
  // Set by the test: what each operation answers, by StandinOperation.
  uint32_t statuses[kStandinOperations];
  // Set by the test: reads that see D1 high before it reads low.
  unsigned highReads;
  // Set by the test: no device to open; the device unplugged (every call fails).
  int noDevice;
  int unplugged;

  // Filled by the stand-in. Calls past kStandinMaxCalls are counted only.
  size_t callCount;
  struct StandinCall calls[kStandinMaxCalls];
  unsigned reads;
  unsigned char outputLatch;  // the last byte written
  int open;                   // a handle is out
  unsigned char mask;         // the direction mask of bit-bang mode
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
