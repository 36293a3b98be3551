#include "tests/usb/emulated_chip.h"

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <umockdev.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <deque>
#include <stdexcept>

namespace capmeter::testing {

namespace {

constexpr const char* kSysfsPath = "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-1";
constexpr const char* kDeviceNode = "/dev/bus/usb/001/002";
constexpr std::size_t kSetupSize = 8;

// Writes `size` bytes into the client's memory at `offset`; umockdev copies
// them, its declaration merely lacks the const.
void Update(UMockdevIoctlData* data, std::size_t offset, const void* bytes, std::size_t size) {
  umockdev_ioctl_data_update(data, offset, static_cast<guint8*>(const_cast<void*>(bytes)),
                             static_cast<gint>(size));
}

void Complete(UMockdevIoctlClient* client, int error) {
  umockdev_ioctl_client_complete(client, error == 0 ? 0 : -1, error);
}

}  // namespace

struct EmulatedChip::Bed {
  EmulatedChip& chip;
  UMockdevTestbed* testbed = umockdev_testbed_new();
  UMockdevIoctlBase* handler = umockdev_ioctl_base_new();
  // Submitted transfers, carried out at once, waiting to be reaped.
  std::deque<UMockdevIoctlData*> done;

  explicit Bed(EmulatedChip& owner) : chip(owner) {
    GError* error = nullptr;
    if (!umockdev_testbed_add_from_file(testbed, CAPMETER_EMULATED_CHIP, &error) ||
        !umockdev_testbed_attach_ioctl(testbed, kDeviceNode, handler, &error)) {
      const std::string message = error != nullptr ? error->message : "unknown";
      g_clear_error(&error);
      throw std::runtime_error("umockdev testbed: " + message);
    }
    g_signal_connect(handler, "handle-ioctl", G_CALLBACK(&Bed::HandleIoctl), this);
  }
  ~Bed() {
    for (UMockdevIoctlData* urb : done) g_object_unref(urb);
    umockdev_testbed_detach_ioctl(testbed, kDeviceNode, nullptr);
    g_object_unref(handler);
    g_object_unref(testbed);
  }
  Bed(const Bed&) = delete;
  Bed& operator=(const Bed&) = delete;

  static gboolean HandleIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
    static_cast<Bed*>(self)->Handle(client);
    return TRUE;
  }

  void Handle(UMockdevIoctlClient* client) {
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* argument = umockdev_ioctl_client_get_arg(client);
    const std::size_t size = _IOC_SIZE(request);
    g_autoptr(UMockdevIoctlData) data =
        size > 0 ? umockdev_ioctl_data_resolve(argument, 0, size, nullptr) : nullptr;
    const std::lock_guard lock(chip.mutex_);
    // As the kernel does, a transfer completed before the unplug can still
    // be reaped; everything else fails.
    const bool reap = request == USBDEVFS_REAPURB || request == USBDEVFS_REAPURBNDELAY;
    if (const int gone = chip.Gone(); gone != 0 && !(reap && !done.empty())) {
      Complete(client, gone);
      return;
    }
    switch (request) {
      case USBDEVFS_GET_CAPABILITIES: {
        const std::uint32_t capabilities =
            USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM;
        Update(data, 0, &capabilities, sizeof capabilities);
        Complete(client, 0);
        return;
      }
      case USBDEVFS_GETDRIVER: {
        if (chip.boundDriver_.empty()) {
          Complete(client, ENODATA);
          return;
        }
        usbdevfs_getdriver answer{};
        std::strncpy(answer.driver, chip.boundDriver_.c_str(), sizeof answer.driver - 1);
        Update(data, offsetof(usbdevfs_getdriver, driver), answer.driver, sizeof answer.driver);
        Complete(client, 0);
        return;
      }
      case USBDEVFS_DISCONNECT_CLAIM:  // how libusb claims with the kernel driver detached
        if (!chip.heldElsewhere_) chip.boundDriver_.clear();
        Complete(client, chip.heldElsewhere_ ? EBUSY : 0);
        return;
      case USBDEVFS_CLAIMINTERFACE:  // as the kernel: busy while its driver holds the chip
        Complete(client, chip.heldElsewhere_ || !chip.boundDriver_.empty() ? EBUSY : 0);
        return;
      case USBDEVFS_RELEASEINTERFACE:
        Complete(client, 0);
        return;
      case USBDEVFS_IOCTL:  // re-attaching the kernel's driver after the release
        chip.boundDriver_ = kKernelDriver;
        Complete(client, 0);
        return;
      case USBDEVFS_SUBMITURB:
        Complete(client, Submit(data));
        return;
      case USBDEVFS_REAPURB:
      case USBDEVFS_REAPURBNDELAY:
        if (done.empty()) {
          Complete(client, EAGAIN);
          return;
        }
        umockdev_ioctl_data_set_ptr(data, 0, done.front());
        g_object_unref(done.front());
        done.pop_front();
        Complete(client, 0);
        return;
      default:
        Complete(client, ENOTTY);
        return;
    }
  }

  // Carries out a submitted transfer and queues it for reaping; 0 or the
  // errno the submission fails with.
  int Submit(UMockdevIoctlData* urbData) {
    const auto* urb = reinterpret_cast<const usbdevfs_urb*>(urbData->data);
    const int length = urb->buffer_length;
    g_autoptr(UMockdevIoctlData) buffer =
        length > 0 ? umockdev_ioctl_data_resolve(urbData, offsetof(usbdevfs_urb, buffer),
                                                 static_cast<std::size_t>(length), nullptr)
                   : nullptr;
    const std::uint8_t* bytes = buffer != nullptr ? buffer->data : nullptr;
    UsbTransfer transfer;
    std::size_t payload = 0;  // where the data stage starts in the buffer
    if (urb->type == USBDEVFS_URB_TYPE_CONTROL) {
      if (bytes == nullptr || static_cast<std::size_t>(length) < kSetupSize) {
        return EINVAL;
      }
      transfer.requestType = bytes[0];
      transfer.request = bytes[1];
      transfer.value = static_cast<std::uint16_t>(bytes[2] | bytes[3] << 8);
      transfer.index = static_cast<std::uint16_t>(bytes[4] | bytes[5] << 8);
      transfer.length = static_cast<std::uint16_t>(bytes[6] | bytes[7] << 8);
      payload = kSetupSize;
    } else if (urb->type == USBDEVFS_URB_TYPE_BULK && (urb->endpoint & 0x80) == 0) {
      transfer.endpoint = urb->endpoint;
      transfer.data.assign(bytes, bytes + length);
    } else {
      return EINVAL;  // the chip's bulk IN endpoint is not for the pins
    }
    std::vector<std::uint8_t> answer;
    const int status = chip.Transfer(transfer, answer);
    if (!answer.empty()) {
      Update(buffer, payload, answer.data(), answer.size());
    }
    const int actual = transfer.endpoint != 0 ? length : static_cast<int>(answer.size());
    Update(urbData, offsetof(usbdevfs_urb, status), &status, sizeof status);
    Update(urbData, offsetof(usbdevfs_urb, actual_length), &actual, sizeof actual);
    done.push_back(static_cast<UMockdevIoctlData*>(g_object_ref(urbData)));
    return 0;
  }
};

EmulatedChip::EmulatedChip(CircuitParts parts) : chip_(clock_, parts), boundDriver_(kKernelDriver) {
  FT_HANDLE handle = nullptr;
  chip_.FT_Open(0, &handle);  // the pins are powered for as long as the chip is plugged in
  bed_ = std::make_unique<Bed>(*this);
}

EmulatedChip::~EmulatedChip() = default;

void EmulatedChip::Disconnect() {
  umockdev_testbed_remove_device(bed_->testbed, kSysfsPath);
}

void EmulatedChip::Unplug() {
  const std::lock_guard lock(mutex_);
  unplugged_ = true;
}

void EmulatedChip::UnplugAfterPinReads(int reads) {
  const std::lock_guard lock(mutex_);
  readsBeforeUnplug_ = reads;
}

void EmulatedChip::HoldElsewhere() {
  const std::lock_guard lock(mutex_);
  heldElsewhere_ = true;
}

std::vector<UsbTransfer> EmulatedChip::Transfers() const {
  const std::lock_guard lock(mutex_);
  return transfers_;
}

void EmulatedChip::ForgetTransfers() {
  const std::lock_guard lock(mutex_);
  transfers_.clear();
}

std::string EmulatedChip::BoundDriver() const {
  const std::lock_guard lock(mutex_);
  return boundDriver_;
}

int EmulatedChip::Transfer(const UsbTransfer& transfer, std::vector<std::uint8_t>& answer) {
  transfers_.push_back(transfer);
  const FT_HANDLE handle = SimulatedChip::Handle();
  constexpr std::uint8_t kToDevice = 0x40;
  constexpr std::uint8_t kFromDevice = 0xC0;
  if (transfer.endpoint != 0) {
    std::uint32_t written = 0;
    chip_.FT_Write(handle, transfer.data.data(), static_cast<std::uint32_t>(transfer.data.size()),
                   &written);
    return 0;
  }
  if (transfer.requestType == kToDevice && transfer.request == 0x0B) {
    chip_.FT_SetBitMode(handle, static_cast<std::uint8_t>(transfer.value),
                        static_cast<std::uint8_t>(transfer.value >> 8));
    return 0;
  }
  if (transfer.requestType == kFromDevice && transfer.request == 0x0C && transfer.length == 1) {
    if (readsBeforeUnplug_ && (*readsBeforeUnplug_)-- == 0) {
      unplugged_ = true;
      return -ENODEV;
    }
    std::uint8_t pins = 0;
    chip_.FT_GetBitMode(handle, &pins);
    answer.push_back(pins);
    return 0;
  }
  // Resets and purges change nothing on the pins; any other request is one
  // the chip does not know.
  return transfer.requestType == kToDevice && transfer.request == 0x00 ? 0 : -EPIPE;
}

}  // namespace capmeter::testing
