#include "device/usb_read_ahead.h"

#include <algorithm>
#include <chrono>

#include "device/usb_status.h"

namespace capmeter {

using usb::Status;

namespace {
// How long a purge or the close waits for the cancelled transfers.
constexpr std::chrono::milliseconds kCancelWait{1000};
}  // namespace

UsbReadAhead::UsbReadAhead(libusb_context* context, libusb_device_handle* usb,
                           std::uint8_t endpoint, std::uint16_t packetSize,
                           std::uint32_t transferSize)
    : context_(context),
      usb_(usb),
      endpoint_(endpoint),
      packetSize_(packetSize),
      transferSize_(transferSize) {
  for (Slot& slot : slots_) {
    slot.owner = this;
    slot.transfer = libusb_alloc_transfer(0);
    idle_.push_back(&slot);
  }
  {
    const std::lock_guard lock(mutex_);
    QueueIdle();
  }
  events_ = std::thread(&UsbReadAhead::HandleEvents, this);
}

UsbReadAhead::~UsbReadAhead() {
  {
    std::unique_lock lock(mutex_);
    CancelQueued(lock);
    stop_ = true;
  }
  changed_.notify_all();
  libusb_interrupt_event_handler(context_);
  events_.join();
  for (Slot& slot : slots_) {
    // One that never came back is libusb's until the close.
    if (!slot.queued) libusb_free_transfer(slot.transfer);
  }
}

FT_STATUS UsbReadAhead::Failure() const {
  const std::lock_guard lock(mutex_);
  return failure_;
}

void UsbReadAhead::SetTransferSize(std::uint32_t bytes) {
  const std::lock_guard lock(mutex_);
  transferSize_ = bytes;
}

std::uint32_t UsbReadAhead::Held() const {
  const std::lock_guard lock(mutex_);
  return static_cast<std::uint32_t>(held_.size());
}

void UsbReadAhead::TakeArrivals(std::vector<SampleArrival>& into) {
  const std::lock_guard lock(mutex_);
  into.insert(into.end(), arrivals_.begin(), arrivals_.end());
  arrivals_.clear();
}

void UsbReadAhead::WaitForSamples(std::chrono::nanoseconds most) {
  std::unique_lock lock(mutex_);
  arrived_.wait_for(lock, most, [this] { return !held_.empty() || failure_ != kStatusOk; });
}

std::uint32_t UsbReadAhead::Take(std::uint8_t* into, std::uint32_t most) {
  bool queued = false;
  std::uint32_t count = 0;
  {
    const std::lock_guard lock(mutex_);
    count = static_cast<std::uint32_t>(std::min<std::size_t>(most, held_.size()));
    std::copy_n(held_.begin(), count, into);
    held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(count));
    queued = QueueIdle();
  }
  // The event thread sleeps while nothing is queued: once the buffer had
  // filled, nothing else would wake it.
  if (queued) changed_.notify_all();
  return count;
}

FT_STATUS UsbReadAhead::Purge(const std::function<int()>& purgeChip) {
  std::unique_lock lock(mutex_);
  if (!CancelQueued(lock)) {
    holding_ = false;
    return Status(LIBUSB_ERROR_TIMEOUT);
  }
  lock.unlock();
  const int purged = purgeChip();
  lock.lock();
  held_.clear();
  received_ = 0;
  arrivals_.clear();
  holding_ = false;
  if (purged == LIBUSB_ERROR_NO_DEVICE) {
    failure_ = Status(purged);
  }
  QueueIdle();
  changed_.notify_all();
  return purged < 0 ? Status(purged) : failure_;
}

void LIBUSB_CALL UsbReadAhead::Landed(libusb_transfer* transfer) {
  auto& slot = *static_cast<Slot*>(transfer->user_data);
  slot.owner->Land(slot);
}

void UsbReadAhead::Land(Slot& slot) {
  const std::lock_guard lock(mutex_);
  slot.queued = false;
  idle_.push_back(&slot);
  const libusb_transfer& transfer = *slot.transfer;
  if (transfer.status == LIBUSB_TRANSFER_COMPLETED) {
    if (!holding_) {
      // Timed first, as close to the landing as this thread gets.
      const auto at = std::chrono::steady_clock::now().time_since_epoch();
      const std::size_t before = held_.size();
      Keep(transfer.buffer, transfer.actual_length);
      if (held_.size() > before) {
        received_ += held_.size() - before;
        if (arrivals_.size() == kArrivalsKept) arrivals_.pop_front();
        arrivals_.push_back({std::chrono::duration_cast<std::chrono::nanoseconds>(at), received_});
      }
    }
  } else if (transfer.status != LIBUSB_TRANSFER_CANCELLED && failure_ == kStatusOk) {
    failure_ = usb::TransferFailure(transfer.status);
  }
  QueueIdle();
  changed_.notify_all();
  if (!held_.empty() || failure_ != kStatusOk) arrived_.notify_all();
}

void UsbReadAhead::Keep(const unsigned char* bytes, int length) {
  for (int at = 0; at < length; at += packetSize_) {
    const int end = std::min(length, at + packetSize_);
    if (end - at > usb::kModemStatusBytes) {
      held_.insert(held_.end(), bytes + at + usb::kModemStatusBytes, bytes + end);
    }
  }
}

int UsbReadAhead::Queued() const {
  return static_cast<int>(
      std::count_if(slots_.begin(), slots_.end(), [](const Slot& slot) { return slot.queued; }));
}

bool UsbReadAhead::QueueIdle() {
  bool any = false;
  while (!holding_ && failure_ == kStatusOk && !idle_.empty() &&
         held_.size() + std::size_t{transferSize_} * static_cast<std::size_t>(Queued() + 1) <=
             kReadAheadBytes) {
    Slot& slot = *idle_.back();
    slot.buffer.resize(transferSize_);
    libusb_fill_bulk_transfer(slot.transfer, usb_, endpoint_, slot.buffer.data(),
                              static_cast<int>(transferSize_), &UsbReadAhead::Landed, &slot, 0);
    if (const int submitted = libusb_submit_transfer(slot.transfer); submitted != 0) {
      failure_ = Status(submitted);
      return any;
    }
    slot.queued = true;
    idle_.pop_back();
    any = true;
  }
  return any;
}

bool UsbReadAhead::CancelQueued(std::unique_lock<std::mutex>& lock) {
  holding_ = true;
  for (Slot& slot : slots_) {
    if (slot.queued) libusb_cancel_transfer(slot.transfer);
  }
  return changed_.wait_for(lock, kCancelWait, [this] { return Queued() == 0; });
}

void UsbReadAhead::HandleEvents() {
  std::unique_lock lock(mutex_);
  while (!stop_) {
    if (Queued() == 0) {
      changed_.wait(lock);
      continue;
    }
    lock.unlock();
    timeval wait{0, 100'000};
    libusb_handle_events_timeout_completed(context_, &wait, nullptr);
    lock.lock();
  }
}

}  // namespace capmeter
