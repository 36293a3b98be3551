#pragma once

#include <array>
#include <cstddef>
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

// The family the emulated chip is of unless told otherwise.
inline constexpr std::uint16_t kEmulatedFamily = 0x0600;

// The interface chip with the timing circuit on its pins, on an emulated USB
// bus, of any family in device/chip_family.h: a full-speed family on
// tests/usb/chip.umockdev (64-byte packets), a high-speed one on
// tests/usb/chip-high-speed.umockdev (512-byte packets), each with its
// bcdDevice written into the device descriptor. The divisor SET_BAUD_RATE
// sends is read as that family's silicon reads it, and the chip samples
// with its FIFO, clock and erratum. A umockdev testbed holds the device as
// its description says (ID
// 1234:5678, bus 1 device 2 on port 1, bulk IN endpoint 0x81, bulk OUT
// endpoint 0x02, the kernel driver "emulated_serial" bound to interface 0,
// string descriptors 1 the product and 2 the serial number), and an ioctl
// handler answers what libusb sends to its node. The pins are the simulated
// chip's, on the real clock, so the timer runs as it would on the bench.
// Needs libumockdev-preload in the process that opens the device (this one,
// or a child started with the environment the testbed sets).
//
// The bulk IN endpoint streams the simulated chip's samples, packet by
// packet, each headed by kModemStatus: a transfer is answered once it is
// full, or with a part-filled packet (the status alone when there is
// nothing) once the latency timer ran out since the last packet. The
// simulated chip's FIFO is the full-speed family's, and it keeps sampling
// while the queued IN transfers have room, as a host controller fills them
// on its own. A reap that finds nothing done while IN transfers are queued
// waits for one, a millisecond at most, so the driver's event loop does not
// spin. Each program that opens the node has its own transfers, as with
// the kernel.
class EmulatedChip {
 public:
  static constexpr const char* kKernelDriver = "emulated_serial";
  static constexpr const char* kProduct = "Capmeter emulated chip";
  static constexpr const char* kSerialNumber = "CM-USB-1";
  // Not zero, and D1 low in both: a driver that keeps them ends every
  // charge at the next packet.
  static constexpr std::array<std::uint8_t, 2> kModemStatus = {0x01, 0x60};

  // A bcdDevice the table does not know gives a full-speed chip with the
  // older chips' clock, as the program takes it.
  explicit EmulatedChip(CircuitParts parts = {}, std::uint16_t bcdDevice = kEmulatedFamily,
                        std::string serialNumber = kSerialNumber);
  ~EmulatedChip();
  EmulatedChip(const EmulatedChip&) = delete;
  EmulatedChip& operator=(const EmulatedChip&) = delete;

  // The device leaves the bus; only before libusb first looks at it.
  void Disconnect();
  // From now on every request fails as for a device that is gone, and the
  // queued IN transfers end so.
  void Unplug();
  // Unplugged once `span` has passed.
  void UnplugAfter(Clock::Duration span);
  // Unplugged at the pin read after `reads` successful ones.
  void UnplugAfterPinReads(int reads);
  // Another program has claimed the interface: a claim fails as busy.
  void HoldElsewhere();
  // For `span` from now the IN endpoint answers nothing: no samples reach
  // the host, the chip's FIFO fills and the chip stops sampling.
  void StopAnsweringIn(Clock::Duration span);

  // The control and bulk OUT transfers; the stream's IN transfers and the
  // string descriptors read (any driver may read those at any time) are not
  // kept.
  std::vector<UsbTransfer> Transfers() const;
  void ForgetTransfers();
  // The kernel driver bound to the interface now; empty while detached.
  std::string BoundDriver() const;
  const std::string& SerialNumber() const { return serialNumber_; }

 private:
  friend class EmulatedBus;
  struct Testbed;  // umockdev's, one for all the chips of a bus
  struct Bed;      // the handler of the device node's ioctls and the bus's thread
  friend struct Bed;
  // Where the chip is plugged in: its sysfs directory and its device node.
  struct Place {
    std::string sysfsPath;
    std::string deviceNode;
  };
  static Place OnBus(std::size_t n);

  EmulatedChip(std::shared_ptr<Testbed> testbed, Place place, CircuitParts parts,
               const ChipFamily& family, std::string serialNumber);

  // Carries out one transfer on the pins; 0 or the negative errno it fails
  // with. `answer` receives what an IN transfer reads.
  int Transfer(const UsbTransfer& transfer, std::vector<std::uint8_t>& answer);
  // 0 or the errno of a request that is not a transfer.
  int Gone() const { return unplugged_ ? 19 : 0; }
  // The sample rate SET_BAUD_RATE's divisor gives on the family's silicon.
  double SampleRate(std::uint16_t value, std::uint16_t index) const;
  // GET_DESCRIPTOR for a string: 0 or the negative errno.
  int StringDescriptor(const UsbTransfer& transfer, std::vector<std::uint8_t>& answer) const;

  std::shared_ptr<Testbed> testbed_;
  const Place place_;
  const std::string serialNumber_;
  mutable std::mutex mutex_;
  MonotonicClock clock_;
  SimulatedChip chip_;
  const ChipFamily& family_;
  Clock::Duration latencyTimer_;
  Clock::Duration lastPacketAt_{0};  // the latency timer counts from there
  Clock::Duration inStoppedUntil_{0};
  std::vector<UsbTransfer> transfers_;
  std::string boundDriver_;
  bool unplugged_ = false;
  std::optional<Clock::Duration> unplugAt_;
  std::optional<int> readsBeforeUnplug_;
  bool heldElsewhere_ = false;
  std::unique_ptr<Bed> bed_;  // last: its thread uses all the above
};

// Several emulated chips on one bus, for a driver that lists them: chip n
// (from 0) is bus 1 device n + 2 on port n + 1, full speed, with the serial
// number "CM-USB-<n + 1>". The testbed is the process's: one bus, or one
// EmulatedChip, at a time.
class EmulatedBus {
 public:
  // As many as tests/usb/two-chips.umockdev describes.
  static constexpr std::size_t kMostChips = 2;

  // Throws std::invalid_argument for no chips, more than kMostChips, or more
  // than one of a high-speed family (tests/usb/two-chips.umockdev is full speed).
  explicit EmulatedBus(std::size_t chips, CircuitParts parts = {},
                       std::uint16_t bcdDevice = kEmulatedFamily);

  std::size_t Size() const { return chips_.size(); }
  EmulatedChip& Chip(std::size_t n) { return *chips_.at(n); }
  std::vector<std::string> Serials() const;
  // Every chip leaves the bus; only before libusb first looks at them.
  void Disconnect();

 private:
  std::vector<std::unique_ptr<EmulatedChip>> chips_;
};

}  // namespace capmeter::testing
