#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "measurement/clock.h"
#include "sim/simulated_chip.h"

namespace capmeter::testing {

// One USB transfer as it reached the emulated chip: a control transfer's setup
// packet, or a bulk transfer's endpoint and data.
struct UsbTransfer {
  std::uint8_t endpoint = 0;  // 0: a control transfer on the default pipe
  std::uint8_t requestType = 0;
  std::uint8_t request = 0;
  std::uint16_t value = 0;
  std::uint16_t index = 0;
  std::uint16_t length = 0;
  std::vector<std::uint8_t> data;  // what a bulk OUT transfer carried

  bool operator==(const UsbTransfer&) const = default;
};

// The interface chip with the timing circuit on its pins, on an emulated USB
// bus: a umockdev testbed holds the device as tests/usb/chip.umockdev
// describes it (ID 1234:5678, bus 1 device 2, bulk OUT endpoint 0x02, the
// kernel driver "emulated_serial" bound to interface 0), and an ioctl
// handler answers what libusb sends to its node. The pins are the simulated
// chip's, on the real clock, so the timer runs as it would on the bench.
// Needs libumockdev-preload in the process that opens the device (this one,
// or a child started with the environment the testbed sets).
class EmulatedChip {
 public:
  static constexpr const char* kKernelDriver = "emulated_serial";

  explicit EmulatedChip(CircuitParts parts = {});
  ~EmulatedChip();
  EmulatedChip(const EmulatedChip&) = delete;
  EmulatedChip& operator=(const EmulatedChip&) = delete;

  // The device leaves the bus; only before libusb first looks at it.
  void Disconnect();
  // From now on every request fails as for a device that is gone.
  void Unplug();
  // Unplugged at the pin read after `reads` successful ones.
  void UnplugAfterPinReads(int reads);
  // Another program has claimed the interface: a claim fails as busy.
  void HoldElsewhere();

  std::vector<UsbTransfer> Transfers() const;
  void ForgetTransfers();
  // The kernel driver bound to the interface now; empty while detached.
  std::string BoundDriver() const;

 private:
  struct Bed;  // the testbed and the handler of the device node's ioctls
  friend struct Bed;

  // Carries out one transfer on the pins; 0 or the negative errno it fails
  // with. `answer` receives what an IN transfer reads.
  int Transfer(const UsbTransfer& transfer, std::vector<std::uint8_t>& answer);
  // 0 or the errno of a request that is not a transfer.
  int Gone() const { return unplugged_ ? 19 : 0; }

  mutable std::mutex mutex_;
  MonotonicClock clock_;
  SimulatedChip chip_;
  std::unique_ptr<Bed> bed_;
  std::vector<UsbTransfer> transfers_;
  std::string boundDriver_;
  bool unplugged_ = false;
  std::optional<int> readsBeforeUnplug_;
  bool heldElsewhere_ = false;
};

}  // namespace capmeter::testing
