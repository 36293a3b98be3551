#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

#include "device/ft_types.h"

namespace capmeter {

// FT_SetBitMode's mode for asynchronous bit-bang: written bytes are clocked
// out at the bit-bang clock and the pins are sampled on the same clock.
inline constexpr std::uint8_t kAsyncBitBang = 0x01;
// FT_Purge's mask bits.
inline constexpr std::uint32_t kPurgeReceive = 1;
inline constexpr std::uint32_t kPurgeTransmit = 2;

// What a driver adds when its chip can stream its pins: in bit-bang mode the
// chip samples D0 to D7 (outputs included) on its own baud-rate clock into a
// FIFO towards the host, and stops sampling while that FIFO is full. The
// driver reads ahead from USB on its own into a buffer of its own, whatever
// the program is doing; FT_Read takes the samples from there, one byte each.
//
// Reached through DriverLibrary::SampleStreaming(). The same rules hold as
// for the five operations: 0 is success; a failing call changes nothing it
// was handed; an invalid or closed handle and an unplugged device fail
// every call.
//
// Operation            Arguments                        On success
// FT_SetBaudRate       handle; baud rate                 the bit-bang clock follows it, as
//                                                        the chip's family makes it
//                                                        (device/chip_family.h)
// FT_SetLatencyTimer   handle; milliseconds (2 to 255)   a part-filled packet waits
//                                                        at most that long
// FT_SetUSBParameters  handle; IN and OUT transfer       the sizes the driver reads and
//                      sizes in bytes (multiples of 64)  writes USB in
// FT_Purge             handle; kPurgeReceive and/or      drops what waits in that direction,
//                      kPurgeTransmit                    in the chip and in the driver
// FT_GetQueueStatus    handle; receives a count          *bytesQueued = samples the driver holds
// FT_Read              handle; buffer; count; receives   the oldest samples, in order; asked for
//                      the count read                    no more than FT_GetQueueStatus said,
//                                                        it returns at once with them all
// When samples reached the driver, as the driver timed them where they
// landed: `at` on the host's monotonic clock as the driver reads it (only
// differences count), `total` the samples received since the last purge,
// these included.
struct SampleArrival {
  std::chrono::nanoseconds at{0};
  std::uint64_t total = 0;
};

class SampleStream {
 public:
  virtual ~SampleStream() = default;

  // Moves the arrivals timed since the last call or purge into `into`,
  // oldest first, and true; false for a driver that does not time them,
  // whose caller times its own looks instead. A driver keeps a bounded
  // number, the newest.
  virtual bool TakeArrivals(FT_HANDLE /*handle*/, std::vector<SampleArrival>& /*into*/) {
    return false;
  }

  // Sleeps until the driver holds samples not yet read, or `most` has
  // passed on the clock it streams by, and true; it may wake sooner, and
  // returns at once on a handle that fails the other calls. False at once
  // where the driver cannot be woken by arrivals: the caller then sleeps on
  // its own clock. So a reader idles between transfers instead of looking.
  virtual bool WaitForSamples(FT_HANDLE handle, std::chrono::nanoseconds most) = 0;

  virtual FT_STATUS FT_SetBaudRate(FT_HANDLE handle, std::uint32_t baudRate) = 0;
  virtual FT_STATUS FT_SetLatencyTimer(FT_HANDLE handle, std::uint8_t milliseconds) = 0;
  virtual FT_STATUS FT_SetUSBParameters(FT_HANDLE handle, std::uint32_t inTransferSize,
                                        std::uint32_t outTransferSize) = 0;
  virtual FT_STATUS FT_Purge(FT_HANDLE handle, std::uint32_t mask) = 0;
  virtual FT_STATUS FT_GetQueueStatus(FT_HANDLE handle, std::uint32_t* bytesQueued) = 0;
  virtual FT_STATUS FT_Read(FT_HANDLE handle, void* buffer, std::uint32_t bytesToRead,
                            std::uint32_t* bytesReturned) = 0;
};

}  // namespace capmeter
