#pragma once

#include <libusb.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "device/direct_usb.h"
#include "device/ft_types.h"
#include "device/sample_stream.h"

namespace capmeter {

// The stream of one open chip on the direct USB driver: kQueuedTransfers
// bulk IN transfers stay queued on a thread of its own, so samples keep
// coming whatever the caller does; the modem status that heads every packet
// is stripped and the rest waits in a buffer of kReadAheadBytes. While that
// buffer is full no transfer is queued, so the chip's FIFO fills and the
// chip stops sampling, as with the vendor's driver; once the caller takes
// samples, the transfers are queued again and the event thread woken.
//
// Everything the caller's thread and the event thread share is behind one
// mutex, and a transfer is submitted or cancelled only while it is held, so
// what a transfer is doing never changes between a look and an action.
class UsbReadAhead {
 public:
  static constexpr std::size_t kReadAheadBytes = DirectUsb::kReadAheadBytes;
  // Many small transfers rather than a few large ones: a transfer's samples
  // reach the host only once it is full, so its size bounds how long a
  // stall may go unseen, and their number how long the host may be late.
  static constexpr int kQueuedTransfers = 32;

  UsbReadAhead(libusb_context* context, libusb_device_handle* usb, std::uint8_t endpoint,
               std::uint16_t packetSize, std::uint32_t transferSize);
  ~UsbReadAhead();  // takes the transfers back and ends the thread
  UsbReadAhead(const UsbReadAhead&) = delete;
  UsbReadAhead& operator=(const UsbReadAhead&) = delete;

  // kStatusOk, or the failure that ended the stream; it stays.
  FT_STATUS Failure() const;
  // From each transfer's next turn on.
  void SetTransferSize(std::uint32_t bytes);
  std::uint32_t Held() const;
  // The arrivals since the last call or purge, each transfer's as its
  // callback ran; at most kArrivalsKept, the newest.
  void TakeArrivals(std::vector<SampleArrival>& into);
  static constexpr std::size_t kArrivalsKept = 1 << 16;
  // Sleeps until samples are held, the stream failed or `most` passed.
  void WaitForSamples(std::chrono::nanoseconds most);
  // Moves up to `most` of the oldest samples into `into`; how many.
  std::uint32_t Take(std::uint8_t* into, std::uint32_t most);
  // Takes every transfer back, has the chip purged by `purgeChip` while
  // none is queued, drops what they brought and queues them again: what
  // comes after was all sampled after the purge.
  FT_STATUS Purge(const std::function<int()>& purgeChip);

 private:
  struct Slot {
    UsbReadAhead* owner = nullptr;
    libusb_transfer* transfer = nullptr;
    std::vector<unsigned char> buffer;
    bool queued = false;
  };

  static void LIBUSB_CALL Landed(libusb_transfer* transfer);
  void Land(Slot& slot);
  // Every packet but the last of a transfer is whole, so each starts a
  // packet size after the one before.
  void Keep(const unsigned char* bytes, int length);
  int Queued() const;
  // Queues the idle transfers there is room for, so whatever they bring
  // fits; true when it queued any.
  bool QueueIdle();
  // Queues nothing more and cancels what is queued; true once all of it
  // came back.
  bool CancelQueued(std::unique_lock<std::mutex>& lock);
  // The event thread: handles libusb's events while a transfer is queued,
  // and sleeps while none is.
  void HandleEvents();

  libusb_context* context_;
  libusb_device_handle* usb_;
  std::uint8_t endpoint_;
  int packetSize_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::condition_variable arrived_;  // samples landed, or the stream failed
  std::array<Slot, kQueuedTransfers> slots_;
  std::vector<Slot*> idle_;
  std::uint32_t transferSize_;
  std::deque<std::uint8_t> held_;
  std::uint64_t received_ = 0;  // samples since the last purge
  std::deque<SampleArrival> arrivals_;
  FT_STATUS failure_ = kStatusOk;
  bool holding_ = false;  // purging or closing: nothing is queued
  bool stop_ = false;
  std::thread events_;
};

}  // namespace capmeter
