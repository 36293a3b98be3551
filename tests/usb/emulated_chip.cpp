#include "tests/usb/emulated_chip.h"

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <umockdev.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

namespace capmeter::testing {

namespace {

constexpr std::size_t kSetupSize = 8;
constexpr std::uint8_t kToDevice = 0x40;
constexpr std::uint8_t kFromDevice = 0xC0;
// The full-speed family's FIFO towards the host.
constexpr std::uint32_t kStatusBytes = EmulatedChip::kModemStatus.size();
// How often the bus looks at the queued IN transfers, and how long a reap
// waits for one of them at most (other requests on the node wait as long).
constexpr auto kBusTurn = std::chrono::microseconds(500);
constexpr auto kReapWait = std::chrono::milliseconds(1);

[[noreturn]] void FailTestbed(GError* error) {
  const std::string message = error != nullptr ? error->message : "unknown";
  g_clear_error(&error);
  throw std::runtime_error("umockdev testbed: " + message);
}

// The description with the family's bcdDevice in its device descriptor
// (bytes 12 and 13, little-endian, of the "H: descriptors=" hex).
std::string DescriptionFor(const char* path, std::uint16_t bcdDevice) {
  std::ifstream file(path);
  std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  const std::string key = "H: descriptors=";
  const std::size_t at = text.find(key);
  if (at == std::string::npos) {
    throw std::runtime_error(std::string("no device descriptor in ") + path);
  }
  char hex[5];
  std::snprintf(hex, sizeof hex, "%02x%02x", bcdDevice & 0xFF, bcdDevice >> 8);
  text.replace(at + key.size() + 24, 4, hex);
  return text;
}

const ChipFamily& FamilyFor(std::uint16_t bcdDevice) {
  const ChipFamily* family = FamilyForBcdDevice(bcdDevice);
  return family != nullptr ? *family : FallbackFamily();
}

// Writes `size` bytes into the client's memory at `offset`; umockdev copies
// them, its declaration merely lacks the const.
void Update(UMockdevIoctlData* data, std::size_t offset, const void* bytes, std::size_t size) {
  umockdev_ioctl_data_update(data, offset, static_cast<guint8*>(const_cast<void*>(bytes)),
                             static_cast<gint>(size));
}

void Complete(UMockdevIoctlClient* client, int error) {
  umockdev_ioctl_client_complete(client, error == 0 ? 0 : -1, error);
}

// A string descriptor: its length, type 3, then UTF-16LE.
std::vector<std::uint8_t> StringDescriptorOf(const std::string& text) {
  std::vector<std::uint8_t> descriptor = {static_cast<std::uint8_t>(2 + 2 * text.size()), 3};
  for (const char c : text) {
    descriptor.push_back(static_cast<std::uint8_t>(c));
    descriptor.push_back(0);
  }
  return descriptor;
}

}  // namespace

struct EmulatedChip::Testbed {
  UMockdevTestbed* testbed = umockdev_testbed_new();

  explicit Testbed(const std::string& description) {
    GError* error = nullptr;
    if (!umockdev_testbed_add_from_string(testbed, description.c_str(), &error)) {
      g_object_unref(testbed);
      FailTestbed(error);
    }
  }
  ~Testbed() { g_object_unref(testbed); }
  Testbed(const Testbed&) = delete;
  Testbed& operator=(const Testbed&) = delete;
};

// Chip n (from 0), as the descriptions have it: on port n + 1, device
// n + 2, the root hub being device 1.
EmulatedChip::Place EmulatedChip::OnBus(std::size_t n) {
  const std::string device = std::to_string(n + 2);
  return {"/sys/devices/pci0000:00/0000:00:14.0/usb1/1-" + std::to_string(n + 1),
          "/dev/bus/usb/001/" + std::string(3 - device.size(), '0') + device};
}

struct EmulatedChip::Bed {
  // A bulk IN transfer the chip fills packet by packet, for the program
  // (client) that submitted it.
  struct Filling {
    UMockdevIoctlClient* client;
    UMockdevIoctlData* urb;
    std::uint32_t packets;  // it has room for
    std::vector<std::uint8_t> bytes;
    std::uint32_t sent = 0;  // packets
  };
  // A transfer carried out, waiting to be reaped. What an IN transfer
  // brought is written into the client's memory only at its reap, while
  // the client waits for that and nothing else touches the transfer.
  struct Done {
    UMockdevIoctlClient* client;
    UMockdevIoctlData* urb;
    std::optional<Filling> in;
    int status = 0;
  };

  EmulatedChip& chip;
  const std::uint32_t packetSize;
  UMockdevIoctlBase* handler = umockdev_ioctl_base_new();
  std::deque<Filling> filling;
  std::deque<Done> done;
  // A reap that came while nothing was done, with where its answer goes.
  UMockdevIoctlClient* heldReap = nullptr;
  UMockdevIoctlData* heldAnswer = nullptr;
  Clock::Duration heldSince{0};
  // The program that claimed the interface; null while none has.
  UMockdevIoctlClient* claimant = nullptr;
  std::condition_variable wake;
  bool stopping = false;
  std::thread bus;

  explicit Bed(EmulatedChip& owner) : chip(owner), packetSize(owner.family_.packetSize) {
    GError* error = nullptr;
    if (!umockdev_testbed_attach_ioctl(Testbed(), chip.place_.deviceNode.c_str(), handler,
                                       &error)) {
      g_object_unref(handler);
      FailTestbed(error);
    }
    g_signal_connect(handler, "handle-ioctl", G_CALLBACK(&Bed::HandleIoctl), this);
    g_signal_connect(handler, "client-vanished", G_CALLBACK(&Bed::HandleVanished), this);
    bus = std::thread(&Bed::Run, this);
  }
  ~Bed() {
    {
      const std::lock_guard lock(chip.mutex_);
      stopping = true;
    }
    wake.notify_all();
    bus.join();
    if (heldReap != nullptr) {
      Complete(heldReap, EAGAIN);
      Release();
    }
    for (const Filling& in : filling) g_object_unref(in.urb);
    for (const Done& finished : done) g_object_unref(finished.urb);
    umockdev_testbed_detach_ioctl(Testbed(), chip.place_.deviceNode.c_str(), nullptr);
    g_object_unref(handler);
  }
  Bed(const Bed&) = delete;
  Bed& operator=(const Bed&) = delete;

  UMockdevTestbed* Testbed() const { return chip.testbed_->testbed; }

  bool ClaimedElsewhere(UMockdevIoctlClient* client) const {
    return chip.heldElsewhere_ || (claimant != nullptr && claimant != client);
  }

  // A program closed the node, or ended: as the kernel, its claim ends and
  // its transfers are dropped.
  static void HandleVanished(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
    static_cast<Bed*>(self)->Forget(client);
  }

  void Forget(UMockdevIoctlClient* client) {
    const std::lock_guard lock(chip.mutex_);
    if (claimant == client) claimant = nullptr;
    if (heldReap == client) Release();
    std::erase_if(filling, [client](const Filling& in) {
      if (in.client == client) g_object_unref(in.urb);
      return in.client == client;
    });
    std::erase_if(done, [client](const Done& finished) {
      if (finished.client == client) g_object_unref(finished.urb);
      return finished.client == client;
    });
    MakeRoom();
  }

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
    if (const int gone = chip.Gone(); gone != 0 && !(reap && HasDone(client))) {
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
        if (!ClaimedElsewhere(client)) {
          chip.boundDriver_.clear();
          claimant = client;
        }
        Complete(client, ClaimedElsewhere(client) ? EBUSY : 0);
        return;
      case USBDEVFS_CLAIMINTERFACE:  // as the kernel: busy while its driver holds the chip
        if (ClaimedElsewhere(client) || !chip.boundDriver_.empty()) {
          Complete(client, EBUSY);
          return;
        }
        claimant = client;
        Complete(client, 0);
        return;
      case USBDEVFS_RELEASEINTERFACE:
        if (claimant == client) claimant = nullptr;
        Complete(client, 0);
        return;
      case USBDEVFS_IOCTL:  // re-attaching the kernel's driver after the release
        chip.boundDriver_ = kKernelDriver;
        Complete(client, 0);
        return;
      case USBDEVFS_SUBMITURB:
        Complete(client, Submit(client, data));
        return;
      case USBDEVFS_DISCARDURB:
        Complete(client, Discard(client, *reinterpret_cast<const gulong*>(argument->data)));
        return;
      case USBDEVFS_REAPURB:
      case USBDEVFS_REAPURBNDELAY:
        if (HasDone(client)) {
          Answer(client, data);
        } else if (IsFilling(client) && heldReap == nullptr) {
          heldReap = static_cast<UMockdevIoctlClient*>(g_object_ref(client));
          heldAnswer = static_cast<UMockdevIoctlData*>(g_object_ref(data));
          heldSince = chip.clock_.Now();
          wake.notify_all();
        } else {
          Complete(client, EAGAIN);
        }
        return;
      default:
        Complete(client, ENOTTY);
        return;
    }
  }

  // Carries out a submitted transfer and queues it for reaping, or, for a
  // bulk IN transfer, queues it to be filled; 0 or the errno the
  // submission fails with.
  int Submit(UMockdevIoctlClient* client, UMockdevIoctlData* urbData) {
    const auto* urb = reinterpret_cast<const usbdevfs_urb*>(urbData->data);
    const int length = urb->buffer_length;
    if (urb->type == USBDEVFS_URB_TYPE_BULK && (urb->endpoint & 0x80) != 0) {
      return Queue(client, urbData, length);
    }
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
    } else if (urb->type == USBDEVFS_URB_TYPE_BULK) {
      transfer.endpoint = urb->endpoint;
      transfer.data.assign(bytes, bytes + length);
    } else {
      return EINVAL;
    }
    std::vector<std::uint8_t> answer;
    const int status = chip.Transfer(transfer, answer);
    if (!answer.empty()) {
      Update(buffer, payload, answer.data(), answer.size());
    }
    const int actual = transfer.endpoint != 0 ? length : static_cast<int>(answer.size());
    Update(urbData, offsetof(usbdevfs_urb, status), &status, sizeof status);
    Update(urbData, offsetof(usbdevfs_urb, actual_length), &actual, sizeof actual);
    done.push_back({client, static_cast<UMockdevIoctlData*>(g_object_ref(urbData)), std::nullopt});
    return 0;
  }

  int Queue(UMockdevIoctlClient* client, UMockdevIoctlData* urbData, int length) {
    if (length < static_cast<int>(packetSize)) {
      return EINVAL;  // a whole packet would overflow it
    }
    // Up to now the chip sampled into the room there was.
    std::uint32_t queued = 0;
    chip.chip_.FT_GetQueueStatus(SimulatedChip::Handle(), &queued);
    filling.push_back({client,
                       static_cast<UMockdevIoctlData*>(g_object_ref(urbData)),
                       static_cast<std::uint32_t>(length) / packetSize,
                       {}});
    MakeRoom();
    wake.notify_all();
    return 0;
  }

  // A cancelled transfer ends as the kernel ends it; EINVAL when it is no
  // longer queued.
  int Discard(UMockdevIoctlClient* client, gulong clientUrb) {
    const auto found =
        std::find_if(filling.begin(), filling.end(), [client, clientUrb](const Filling& in) {
          return in.client == client && in.urb->client_addr == clientUrb;
        });
    if (found == filling.end()) {
      return EINVAL;
    }
    found->bytes.clear();
    done.push_back({client, found->urb, std::move(*found), -ENOENT});
    filling.erase(found);
    MakeRoom();
    return 0;
  }

  // The client's pointers mean nothing to any other.
  bool HasDone(UMockdevIoctlClient* client) const {
    return std::any_of(done.begin(), done.end(),
                       [client](const Done& finished) { return finished.client == client; });
  }
  bool IsFilling(UMockdevIoctlClient* client) const {
    return std::any_of(filling.begin(), filling.end(),
                       [client](const Filling& in) { return in.client == client; });
  }

  // Hands the client's oldest finished transfer to its reap.
  void Answer(UMockdevIoctlClient* client, UMockdevIoctlData* answer) {
    const auto oldest = std::find_if(done.begin(), done.end(), [client](const Done& finished) {
      return finished.client == client;
    });
    Done finished = std::move(*oldest);
    done.erase(oldest);
    if (finished.in) {
      const std::vector<std::uint8_t>& bytes = finished.in->bytes;
      const auto* urb = reinterpret_cast<const usbdevfs_urb*>(finished.urb->data);
      if (!bytes.empty()) {
        g_autoptr(UMockdevIoctlData) buffer =
            umockdev_ioctl_data_resolve(finished.urb, offsetof(usbdevfs_urb, buffer),
                                        static_cast<std::size_t>(urb->buffer_length), nullptr);
        Update(buffer, 0, bytes.data(), bytes.size());
      }
      const int actual = static_cast<int>(bytes.size());
      Update(finished.urb, offsetof(usbdevfs_urb, status), &finished.status,
             sizeof finished.status);
      Update(finished.urb, offsetof(usbdevfs_urb, actual_length), &actual, sizeof actual);
    }
    umockdev_ioctl_data_set_ptr(answer, 0, finished.urb);
    g_object_unref(finished.urb);
    Complete(client, 0);
  }

  void Release() {
    g_object_unref(heldReap);
    g_object_unref(heldAnswer);
    heldReap = nullptr;
    heldAnswer = nullptr;
  }

  // The bus: fills the queued IN transfers as the chip samples, and answers
  // a waiting reap.
  void Run() {
    std::unique_lock lock(chip.mutex_);
    while (!stopping) {
      const Clock::Duration now = chip.clock_.Now();
      if (chip.unplugAt_ && now >= *chip.unplugAt_) {
        chip.unplugged_ = true;
        chip.unplugAt_.reset();
      }
      if (chip.unplugged_) {
        EndAll(-ENODEV);
      } else if (now >= chip.inStoppedUntil_) {
        Fill(now);
      }
      if (heldReap != nullptr && (HasDone(heldReap) || now - heldSince >= kReapWait)) {
        if (HasDone(heldReap)) {
          Answer(heldReap, heldAnswer);
        } else {
          Complete(heldReap, EAGAIN);
        }
        Release();
      }
      if (filling.empty() && heldReap == nullptr && !chip.unplugAt_) {
        wake.wait(lock);
      } else {
        wake.wait_for(lock, kBusTurn);
      }
    }
  }

  void EndAll(int status) {
    for (Filling& in : filling) {
      in.bytes.clear();
      done.push_back({in.client, in.urb, std::move(in), status});
    }
    filling.clear();
  }

  // Whole packets as soon as the chip has them; a part-filled one, or only
  // the status, once the latency timer ran out since the last packet.
  void Fill(Clock::Duration now) {
    const FT_HANDLE handle = SimulatedChip::Handle();
    const std::uint32_t payload = packetSize - kStatusBytes;
    std::uint32_t queued = 0;
    chip.chip_.FT_GetQueueStatus(handle, &queued);
    while (!filling.empty()) {
      Filling& in = filling.front();
      const std::uint32_t whole = std::min(in.packets - in.sent, queued / payload);
      for (std::uint32_t i = 0; i < whole; ++i) {
        SendPacket(in, payload);
      }
      queued -= whole * payload;
      if (whole > 0) {
        chip.lastPacketAt_ = now;
      }
      if (in.sent < in.packets && now - chip.lastPacketAt_ >= chip.latencyTimer_) {
        SendPacket(in, queued);
        queued = 0;
        chip.lastPacketAt_ = now;
        in.sent = in.packets;
      }
      if (in.sent < in.packets) {
        break;
      }
      done.push_back({in.client, in.urb, std::move(in), 0});
      filling.pop_front();
    }
    MakeRoom();
  }

  void SendPacket(Filling& in, std::uint32_t samples) {
    in.bytes.insert(in.bytes.end(), kModemStatus.begin(), kModemStatus.end());
    const std::size_t at = in.bytes.size();
    in.bytes.resize(at + samples);
    std::uint32_t read = 0;
    chip.chip_.FT_Read(SimulatedChip::Handle(), in.bytes.data() + at, samples, &read);
    in.bytes.resize(at + read);
    ++in.sent;
  }

  // The chip samples on while the queued transfers have room: the host
  // controller takes its packets without waiting for anyone. While the IN
  // side is stopped only its FIFO is left.
  void MakeRoom() {
    std::uint32_t room = 0;
    if (chip.clock_.Now() >= chip.inStoppedUntil_) {
      for (const Filling& in : filling) {
        room += (in.packets - in.sent) * (packetSize - kStatusBytes);
      }
    }
    chip.chip_.SetStreamBuffers({chip.family_.fifoToHost, room, packetSize, false});
  }
};

EmulatedChip::EmulatedChip(CircuitParts parts, std::uint16_t bcdDevice, std::string serialNumber)
    : EmulatedChip(
          std::make_shared<Testbed>(DescriptionFor(FamilyFor(bcdDevice).speed == BusSpeed::High
                                                       ? CAPMETER_EMULATED_HIGH_SPEED_CHIP
                                                       : CAPMETER_EMULATED_CHIP,
                                                   bcdDevice)),
          OnBus(0), parts, FamilyFor(bcdDevice), std::move(serialNumber)) {}

EmulatedChip::EmulatedChip(std::shared_ptr<Testbed> testbed, Place place, CircuitParts parts,
                           const ChipFamily& family, std::string serialNumber)
    : testbed_(std::move(testbed)),
      place_(std::move(place)),
      serialNumber_(std::move(serialNumber)),
      chip_(clock_, parts),
      family_(family),
      latencyTimer_(std::chrono::milliseconds(16)),
      boundDriver_(kKernelDriver) {
  FT_HANDLE handle = nullptr;
  chip_.FT_Open(0, &handle);  // the pins are powered for as long as the chip is plugged in
  chip_.SetFamily(family);
  chip_.SetStreamBuffers({family.fifoToHost, 0, family.packetSize, false});
  bed_ = std::make_unique<Bed>(*this);
}

EmulatedChip::~EmulatedChip() = default;

void EmulatedChip::Disconnect() {
  umockdev_testbed_remove_device(testbed_->testbed, place_.sysfsPath.c_str());
}

void EmulatedChip::Unplug() {
  const std::lock_guard lock(mutex_);
  unplugged_ = true;
  bed_->wake.notify_all();
}

void EmulatedChip::UnplugAfter(Clock::Duration span) {
  const std::lock_guard lock(mutex_);
  unplugAt_ = clock_.Now() + span;
  bed_->wake.notify_all();
}

void EmulatedChip::UnplugAfterPinReads(int reads) {
  const std::lock_guard lock(mutex_);
  readsBeforeUnplug_ = reads;
}

void EmulatedChip::HoldElsewhere() {
  const std::lock_guard lock(mutex_);
  heldElsewhere_ = true;
}

void EmulatedChip::StopAnsweringIn(Clock::Duration span) {
  const std::lock_guard lock(mutex_);
  bed_->Fill(clock_.Now());
  inStoppedUntil_ = clock_.Now() + span;
  bed_->MakeRoom();
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

double EmulatedChip::SampleRate(std::uint16_t value, std::uint16_t index) const {
  return family_.bitBangClockHz / DecodeDivisor(family_, {value, index});
}

int EmulatedChip::StringDescriptor(const UsbTransfer& transfer,
                                   std::vector<std::uint8_t>& answer) const {
  constexpr std::uint8_t kStringType = 3;
  constexpr std::uint16_t kEnglish = 0x0409;
  const auto index = static_cast<std::uint8_t>(transfer.value);
  if (transfer.value >> 8 != kStringType) {
    return -EPIPE;  // the others are read from sysfs
  }
  if (index == 0) {
    answer = {4, kStringType, kEnglish & 0xFF, kEnglish >> 8};  // the languages: English only
  } else if (index == 1 || index == 2) {
    answer = StringDescriptorOf(index == 1 ? kProduct : serialNumber_);
  } else {
    return -EPIPE;
  }
  answer.resize(std::min<std::size_t>(answer.size(), transfer.length));
  return 0;
}

int EmulatedChip::Transfer(const UsbTransfer& transfer, std::vector<std::uint8_t>& answer) {
  constexpr std::uint8_t kStandardFromDevice = 0x80;
  constexpr std::uint8_t kGetDescriptor = 0x06;
  if (transfer.endpoint == 0 && transfer.requestType == kStandardFromDevice &&
      transfer.request == kGetDescriptor) {
    return StringDescriptor(transfer, answer);
  }
  transfers_.push_back(transfer);
  const FT_HANDLE handle = SimulatedChip::Handle();
  if (transfer.endpoint != 0) {
    std::uint32_t written = 0;
    chip_.FT_Write(handle, transfer.data.data(), static_cast<std::uint32_t>(transfer.data.size()),
                   &written);
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
  if (transfer.requestType != kToDevice) {
    return -EPIPE;  // a request the chip does not know
  }
  switch (transfer.request) {
    case 0x00: {  // reset; 1 and 2 purge towards the chip and towards the host
      constexpr std::uint16_t kTowardsChip = 1;
      constexpr std::uint16_t kTowardsHost = 2;
      if (transfer.value == kTowardsChip) chip_.FT_Purge(handle, kPurgeTransmit);
      if (transfer.value == kTowardsHost) chip_.FT_Purge(handle, kPurgeReceive);
      return 0;
    }
    case 0x03:
      chip_.SetSampleRate(SampleRate(transfer.value, transfer.index));
      return 0;
    case 0x09:
      if (const auto ms = static_cast<std::uint8_t>(transfer.value); ms > 0) {
        chip_.FT_SetLatencyTimer(handle, ms);
        latencyTimer_ = std::chrono::milliseconds(ms);
      }
      return 0;
    case 0x0B:
      chip_.FT_SetBitMode(handle, static_cast<std::uint8_t>(transfer.value),
                          static_cast<std::uint8_t>(transfer.value >> 8));
      return 0;
    default:
      return -EPIPE;
  }
}

EmulatedBus::EmulatedBus(std::size_t chips, CircuitParts parts, std::uint16_t bcdDevice) {
  const ChipFamily& family = FamilyFor(bcdDevice);
  const bool highSpeed = family.speed == BusSpeed::High;
  if (chips == 0 || chips > kMostChips || (highSpeed && chips > 1)) {
    throw std::invalid_argument("an emulated bus has 1 to " + std::to_string(kMostChips) +
                                " chips, and one of a high-speed family");
  }
  const char* description = chips > 1   ? CAPMETER_EMULATED_TWO_CHIPS
                            : highSpeed ? CAPMETER_EMULATED_HIGH_SPEED_CHIP
                                        : CAPMETER_EMULATED_CHIP;
  const auto testbed =
      std::make_shared<EmulatedChip::Testbed>(DescriptionFor(description, bcdDevice));
  for (std::size_t n = 0; n < chips; ++n) {
    // Not make_unique: the constructor is the bus's alone.
    chips_.emplace_back(new EmulatedChip(testbed, EmulatedChip::OnBus(n), parts, family,
                                         "CM-USB-" + std::to_string(n + 1)));
  }
}

std::vector<std::string> EmulatedBus::Serials() const {
  std::vector<std::string> serials;
  for (const auto& chip : chips_) serials.push_back(chip->SerialNumber());
  return serials;
}

void EmulatedBus::Disconnect() {
  for (const auto& chip : chips_) chip->Disconnect();
}

}  // namespace capmeter::testing
