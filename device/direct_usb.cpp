#include "device/direct_usb.h"

#include <libusb.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <iterator>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

#include "device/usb_read_ahead.h"
#include "device/usb_status.h"

namespace capmeter {

using usb::Status;

namespace {

// The chip's requests, all on its first and only port.
constexpr std::uint8_t kToDevice = 0x40;    // vendor request, host to device
constexpr std::uint8_t kFromDevice = 0xC0;  // vendor request, device to host
constexpr std::uint8_t kReset = 0x00;
constexpr std::uint8_t kSetBaudRate = 0x03;
constexpr std::uint8_t kSetLatencyTimer = 0x09;
constexpr std::uint8_t kSetBitMode = 0x0B;
constexpr std::uint8_t kReadPins = 0x0C;
constexpr std::uint16_t kResetPort = 0;
// Named for the direction they clear, as the open-source driver libraries
// settled it: 1 what goes to the chip, 2 the samples coming to the host
// (older headers name them the other way round).
constexpr std::uint16_t kPurgeTowardsChip = 1;
constexpr std::uint16_t kPurgeTowardsHost = 2;
constexpr std::uint16_t kPort = 1;
constexpr int kInterface = 0;
// Long enough for any answer of a healthy chip, short enough that a stuck one
// gives the window back.
constexpr unsigned kTimeoutMs = 1000;
// Handles are numbered opens with a mark, never pointers that memory could reuse.
constexpr std::uintptr_t kHandleMark = 0x55534200;

static_assert(usb_status::kIoError == kUsbStatusBase - LIBUSB_ERROR_IO &&
              usb_status::kAccessDenied == kUsbStatusBase - LIBUSB_ERROR_ACCESS &&
              usb_status::kDeviceGone == kUsbStatusBase - LIBUSB_ERROR_NO_DEVICE &&
              usb_status::kNoSuchDevice == kUsbStatusBase - LIBUSB_ERROR_NOT_FOUND &&
              usb_status::kBusy == kUsbStatusBase - LIBUSB_ERROR_BUSY &&
              usb_status::kTimedOut == kUsbStatusBase - LIBUSB_ERROR_TIMEOUT);

std::string ThreeDigits(std::uint8_t number) {
  return std::to_string(1000 + number).substr(1);
}

// Where Linux puts the device's node; the bus and address elsewhere.
std::string DeviceNode(libusb_device* device) {
  return "/dev/bus/usb/" + ThreeDigits(libusb_get_bus_number(device)) + "/" +
         ThreeDigits(libusb_get_device_address(device));
}

// The ports on the way from the root hub to the device, the root hub's first.
std::vector<std::uint8_t> PortNumbers(libusb_device* device) {
  std::array<std::uint8_t, 8> ports{};  // USB has at most 7 tiers
  const int depth = libusb_get_port_numbers(device, ports.data(), static_cast<int>(ports.size()));
  return {ports.begin(), ports.begin() + std::max(depth, 0)};
}

// "1.4", as Linux names the device in sysfs after its bus.
std::string PortPath(libusb_device* device) {
  std::string path;
  for (const std::uint8_t port : PortNumbers(device)) {
    if (!path.empty()) path += '.';
    path += std::to_string(port);
  }
  return path;
}

// The name of the kernel driver bound to the chip's first interface, as sysfs
// tells it; "a kernel driver" where it does not.
std::string KernelDriverName(libusb_device* device, std::uint8_t configuration) {
  std::string name = std::to_string(libusb_get_bus_number(device)) + "-" + PortPath(device);
  name += ':';
  name += std::to_string(configuration);
  name += '.';
  name += std::to_string(kInterface);
  std::error_code error;
  const auto driver =
      std::filesystem::read_symlink("/sys/bus/usb/devices/" + name + "/driver", error);
  return error || driver.filename().empty() ? "a kernel driver" : driver.filename().string();
}

// What the first interface offers, and how many interfaces (ports) there are.
struct Endpoints {
  std::uint8_t configuration = 1;
  std::uint8_t interfaces = 0;
  std::uint8_t out = 0;  // 0: none
  std::uint8_t in = 0;
  std::uint16_t inPacketSize = 0;
};

Endpoints FindEndpoints(libusb_device* device) {
  Endpoints found;
  libusb_config_descriptor* config = nullptr;
  if (libusb_get_active_config_descriptor(device, &config) != LIBUSB_SUCCESS) {
    return found;
  }
  found.configuration = config->bConfigurationValue;
  found.interfaces = config->bNumInterfaces;
  if (config->bNumInterfaces > kInterface && config->interface[kInterface].num_altsetting > 0) {
    const libusb_interface_descriptor& setting = config->interface[kInterface].altsetting[0];
    for (int i = 0; i < setting.bNumEndpoints; ++i) {
      const libusb_endpoint_descriptor& endpoint = setting.endpoint[i];
      if ((endpoint.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK) != LIBUSB_TRANSFER_TYPE_BULK) {
        continue;
      }
      const bool in = (endpoint.bEndpointAddress & LIBUSB_ENDPOINT_DIR_MASK) == LIBUSB_ENDPOINT_IN;
      if (in && found.in == 0) {
        found.in = endpoint.bEndpointAddress;
        found.inPacketSize = endpoint.wMaxPacketSize & 0x7FF;  // above: high-bandwidth bits
      } else if (!in && found.out == 0) {
        found.out = endpoint.bEndpointAddress;
      }
    }
  }
  libusb_free_config_descriptor(config);
  return found;
}

UsbId IdOf(libusb_device* device) {
  libusb_device_descriptor descriptor{};
  libusb_get_device_descriptor(device, &descriptor);
  return {descriptor.idVendor, descriptor.idProduct};
}

// libusb's device list, freed with it.
class UsbDevices {
 public:
  explicit UsbDevices(libusb_context* context)
      : count_(libusb_get_device_list(context, &devices_)) {}
  ~UsbDevices() {
    if (count_ >= 0) libusb_free_device_list(devices_, 1);
  }
  UsbDevices(const UsbDevices&) = delete;
  UsbDevices& operator=(const UsbDevices&) = delete;

  // The libusb error when listing failed, else 0.
  int Error() const { return count_ < 0 ? static_cast<int>(count_) : 0; }
  std::size_t Size() const { return count_ < 0 ? 0 : static_cast<std::size_t>(count_); }
  libusb_device* operator[](std::size_t i) const { return devices_[i]; }
  // Those with the ID in the order FT_Open counts them: by bus, then by the
  // ports on the way, so an index names the same chip whatever order libusb
  // found them in.
  std::vector<libusb_device*> WithId(UsbId id) const {
    std::vector<libusb_device*> matching;
    std::copy_if(devices_, devices_ + Size(), std::back_inserter(matching),
                 [id](libusb_device* device) { return IdOf(device) == id; });
    const auto place = [](libusb_device* device) {
      return std::pair(libusb_get_bus_number(device), PortNumbers(device));
    };
    std::sort(matching.begin(), matching.end(),
              [&place](libusb_device* a, libusb_device* b) { return place(a) < place(b); });
    return matching;
  }

 private:
  libusb_device** devices_ = nullptr;
  ssize_t count_;
};

// What the chip says of itself in its string descriptors.
struct ChipTexts {
  std::string serialNumber;
  std::string description;
};

// As long as the vendor's library has room for; empty where the chip has
// no such string or will not tell it.
ChipTexts ReadTexts(libusb_device* device, libusb_device_handle* usb) {
  libusb_device_descriptor descriptor{};
  libusb_get_device_descriptor(device, &descriptor);
  const auto read = [usb](std::uint8_t index, std::size_t size) {
    std::string text(size, '\0');
    const int length = index == 0 ? 0
                                  : libusb_get_string_descriptor_ascii(
                                        usb, index, reinterpret_cast<unsigned char*>(text.data()),
                                        static_cast<int>(size));  // its terminating zero included
    text.resize(static_cast<std::size_t>(std::max(length, 0)));
    return text;
  };
  return {read(descriptor.iSerialNumber, kSerialNumberSize),
          read(descriptor.iProduct, kDescriptionSize)};
}

// The family its bcdDevice names; an unknown one is said, and taken for the
// older full-speed chips.
FamilyReport FamilyOfChip(std::uint16_t bcdDevice) {
  if (const ChipFamily* family = FamilyForBcdDevice(bcdDevice)) {
    return {family, true, "bcdDevice " + BcdText(bcdDevice)};
  }
  return {&FallbackFamily(), false, "bcdDevice " + BcdText(bcdDevice) + " is no family known here"};
}

}  // namespace

struct DirectUsb::Session {
  libusb_context* context = nullptr;
  ~Session() { libusb_exit(context); }
};

struct DirectUsb::Device {
  FT_HANDLE handle = nullptr;
  libusb_context* context = nullptr;
  libusb_device_handle* usb = nullptr;
  Endpoints endpoints;
  FamilyReport family;
  std::uint32_t inTransferSize = kDefaultInTransferSize;
  ChipTexts texts;    // read at the open, so listing leaves the device alone
  bool gone = false;  // a request found the device unplugged
  std::unique_ptr<UsbReadAhead> readAhead;

  int Request(std::uint8_t request, std::uint16_t value, std::uint16_t index = kPort) {
    const int done =
        libusb_control_transfer(usb, kToDevice, request, value, index, nullptr, 0, kTimeoutMs);
    gone = gone || done == LIBUSB_ERROR_NO_DEVICE;
    return done;
  }
  // Reading ahead, from the first stream call on; then kStatusOk while the
  // stream goes on, else its failure.
  FT_STATUS Stream() {
    if (gone) {
      return Status(LIBUSB_ERROR_NO_DEVICE);
    }
    if (!readAhead) {
      if (endpoints.in == 0 || endpoints.inPacketSize <= usb::kModemStatusBytes) {
        return Status(LIBUSB_ERROR_NOT_SUPPORTED);
      }
      readAhead = std::make_unique<UsbReadAhead>(context, usb, endpoints.in, endpoints.inPacketSize,
                                                 inTransferSize);
    }
    return readAhead->Failure();
  }
  // Lets the chip go: the transfers back, its interface back to the
  // kernel's driver, then closed.
  int Release() {
    readAhead.reset();
    const int released = libusb_release_interface(usb, kInterface);
    libusb_close(usb);
    return released;
  }
};

DirectUsb::DirectUsb(UsbId id) : id_(id) {}

DirectUsb::~DirectUsb() {
  if (device_) {
    device_->Release();
  }
}

std::string DirectUsb::LibraryVersion() {
  const libusb_version* version = libusb_get_version();
  return std::to_string(version->major) + "." + std::to_string(version->minor) + "." +
         std::to_string(version->micro) + "." + std::to_string(version->nano);
}

std::string DirectUsb::StatusName(FT_STATUS status) const {
  if (status <= kUsbStatusBase || status > kUsbStatusBase - LIBUSB_ERROR_OTHER) {
    return {};
  }
  switch (-static_cast<int>(status - kUsbStatusBase)) {
    case LIBUSB_ERROR_IO:
      return "input/output error";
    case LIBUSB_ERROR_INVALID_PARAM:
      return "invalid parameter";
    case LIBUSB_ERROR_ACCESS:
      return "access denied";
    case LIBUSB_ERROR_NO_DEVICE:
      return "device gone";
    case LIBUSB_ERROR_NOT_FOUND:
      return "no such device";
    case LIBUSB_ERROR_BUSY:
      return "busy";
    case LIBUSB_ERROR_TIMEOUT:
      return "timed out";
    case LIBUSB_ERROR_OVERFLOW:
      return "overflow";
    case LIBUSB_ERROR_PIPE:
      return "endpoint stalled";
    case LIBUSB_ERROR_INTERRUPTED:
      return "interrupted";
    case LIBUSB_ERROR_NO_MEM:
      return "out of memory";
    case LIBUSB_ERROR_NOT_SUPPORTED:
      return "not supported";
    default:
      return "other error";
  }
}

FT_STATUS DirectUsb::StartSession() {
  if (session_) {
    return kStatusOk;
  }
  auto session = std::make_unique<Session>();
  const int started = libusb_init(&session->context);
  if (started != LIBUSB_SUCCESS) {
    return Status(started);
  }
  session_ = std::move(session);
  return kStatusOk;
}

DirectUsb::Survey DirectUsb::Look() {
  Survey survey;
  survey.status = StartSession();
  if (survey.status != kStatusOk) {
    return survey;
  }
  const UsbDevices devices(session_->context);
  survey.status = Status(devices.Error());
  for (std::size_t i = 0; i < devices.Size(); ++i) {
    const UsbId id = IdOf(devices[i]);
    survey.present.push_back(id);
    survey.matching += id == id_ ? 1 : 0;
  }
  return survey;
}

DirectUsb::Device* DirectUsb::Find(FT_HANDLE handle) const {
  return device_ && handle != nullptr && device_->handle == handle ? device_.get() : nullptr;
}

FT_STATUS DirectUsb::FT_Open(std::int32_t deviceIndex, FT_HANDLE* handle) {
  if (handle == nullptr || deviceIndex < 0) {
    return Status(LIBUSB_ERROR_INVALID_PARAM);
  }
  return OpenFirst(
      [deviceIndex](libusb_device*, std::size_t index) {
        return index == static_cast<std::size_t>(deviceIndex);
      },
      handle);
}

FT_STATUS DirectUsb::FT_OpenEx(const std::string& serialNumber, std::uint32_t openBy,
                               FT_HANDLE* handle) {
  if (handle == nullptr || openBy != kOpenBySerialNumber) {
    return Status(LIBUSB_ERROR_INVALID_PARAM);
  }
  return OpenFirst(
      [this, &serialNumber](libusb_device* device, std::size_t) {
        return Describe(device).serialNumber == serialNumber;
      },
      handle);
}

FT_STATUS DirectUsb::OpenFirst(const std::function<bool(libusb_device*, std::size_t)>& wanted,
                               FT_HANDLE* handle) {
  if (device_) {
    return Status(LIBUSB_ERROR_BUSY);  // one open device at a time
  }
  if (const FT_STATUS started = StartSession(); started != kStatusOk) {
    return started;
  }
  const UsbDevices devices(session_->context);
  if (devices.Error() != 0) {
    return Status(devices.Error());
  }
  const std::vector<libusb_device*> candidates = devices.WithId(id_);
  libusb_device* chosen = nullptr;
  for (std::size_t i = 0; i < candidates.size() && chosen == nullptr; ++i) {
    if (wanted(candidates[i], i)) chosen = candidates[i];
  }
  if (chosen == nullptr) {
    return Status(LIBUSB_ERROR_NOT_FOUND);
  }

  auto device = std::make_unique<Device>();
  if (const int opened = libusb_open(chosen, &device->usb); opened != LIBUSB_SUCCESS) {
    return Status(opened);
  }
  device->context = session_->context;
  device->texts = ReadTexts(chosen, device->usb);
  device->endpoints = FindEndpoints(chosen);
  libusb_device_descriptor descriptor{};
  libusb_get_device_descriptor(chosen, &descriptor);
  device->family = FamilyOfChip(descriptor.bcdDevice);
  // Where the platform has kernel drivers to detach, the claim detaches the
  // one holding the chip and the release re-attaches it.
  libusb_set_auto_detach_kernel_driver(device->usb, 1);
  const bool driverBound = libusb_kernel_driver_active(device->usb, kInterface) == 1;
  int failure = device->endpoints.out == 0 ? LIBUSB_ERROR_NOT_SUPPORTED : LIBUSB_SUCCESS;
  if (failure == LIBUSB_SUCCESS) {
    failure = libusb_claim_interface(device->usb, kInterface);
    if (failure != LIBUSB_SUCCESS) {
      libusb_close(device->usb);
      return Status(failure);
    }
  }
  for (const std::uint16_t reset : {kResetPort, kPurgeTowardsChip, kPurgeTowardsHost}) {
    if (failure == LIBUSB_SUCCESS) {
      failure = std::min(device->Request(kReset, reset), 0);
    }
  }
  if (failure != LIBUSB_SUCCESS) {
    device->Release();
    return Status(failure);
  }
  opened_ = {DeviceNode(chosen),
             driverBound ? KernelDriverName(chosen, device->endpoints.configuration) : ""};
  // A new handle for every open, so one from an earlier open stays invalid.
  device->handle = reinterpret_cast<FT_HANDLE>(kHandleMark + ++opens_);
  device_ = std::move(device);
  *handle = device_->handle;
  return kStatusOk;
}

DeviceInfo DirectUsb::Describe(libusb_device* device) const {
  DeviceInfo info;
  const bool open = device_ && libusb_get_device(device_->usb) == device;
  ChipTexts texts;
  libusb_device_handle* usb = nullptr;
  if (open) {
    texts = device_->texts;
  } else if (libusb_open(device, &usb) == LIBUSB_SUCCESS) {
    texts = ReadTexts(device, usb);
    libusb_close(usb);
  }
  info.serialNumber = std::move(texts.serialNumber);
  info.description = std::move(texts.description);
  info.flags = (open ? kDeviceOpened : 0) |
               (libusb_get_device_speed(device) >= LIBUSB_SPEED_HIGH ? kDeviceHighSpeed : 0);
  const std::uint8_t bus = libusb_get_bus_number(device);
  const std::vector<std::uint8_t> ports = PortNumbers(device);
  info.locId = std::uint32_t{bus} << 24;
  for (std::size_t i = 0; i < std::min<std::size_t>(ports.size(), 3); ++i) {
    info.locId |= std::uint32_t{ports[i]} << (16 - 8 * i);
  }
  info.location = "bus " + std::to_string(bus);
  if (!ports.empty()) info.location += ", port " + PortPath(device);
  return info;
}

FT_STATUS DirectUsb::FT_CreateDeviceInfoList(std::uint32_t* count) {
  if (count == nullptr) {
    return Status(LIBUSB_ERROR_INVALID_PARAM);
  }
  if (const FT_STATUS started = StartSession(); started != kStatusOk) {
    return started;
  }
  const UsbDevices devices(session_->context);
  if (devices.Error() != 0) {
    return Status(devices.Error());
  }
  std::vector<DeviceInfo> listed;
  for (libusb_device* device : devices.WithId(id_)) listed.push_back(Describe(device));
  listed_ = std::move(listed);
  *count = static_cast<std::uint32_t>(listed_.size());
  return kStatusOk;
}

FT_STATUS DirectUsb::FT_GetDeviceInfoDetail(std::uint32_t index, DeviceInfo* info) {
  if (info == nullptr) {
    return Status(LIBUSB_ERROR_INVALID_PARAM);
  }
  if (index >= listed_.size()) {
    return Status(LIBUSB_ERROR_NOT_FOUND);
  }
  *info = listed_[index];
  return kStatusOk;
}

FT_STATUS DirectUsb::FT_SetBitMode(FT_HANDLE handle, std::uint8_t mask, std::uint8_t enable) {
  Device* device = Find(handle);
  if (device == nullptr) {
    return Status(LIBUSB_ERROR_INVALID_PARAM);
  }
  return Status(device->Request(kSetBitMode, static_cast<std::uint16_t>(enable << 8 | mask)));
}

FT_STATUS DirectUsb::FT_Write(FT_HANDLE handle, const void* buffer, std::uint32_t bytesToWrite,
                              std::uint32_t* bytesWritten) {
  const Device* device = Find(handle);
  if (device == nullptr || bytesWritten == nullptr || (buffer == nullptr && bytesToWrite > 0) ||
      bytesToWrite > static_cast<std::uint32_t>(INT32_MAX)) {
    return Status(LIBUSB_ERROR_INVALID_PARAM);
  }
  int transferred = 0;
  // libusb takes a mutable buffer for either direction; an OUT transfer only reads it.
  const int sent = libusb_bulk_transfer(device->usb, device->endpoints.out,
                                        static_cast<unsigned char*>(const_cast<void*>(buffer)),
                                        static_cast<int>(bytesToWrite), &transferred, kTimeoutMs);
  if (sent != LIBUSB_SUCCESS) {
    return Status(sent);
  }
  *bytesWritten = static_cast<std::uint32_t>(transferred);
  return kStatusOk;
}

FT_STATUS DirectUsb::FT_GetBitMode(FT_HANDLE handle, std::uint8_t* pins) {
  const Device* device = Find(handle);
  if (device == nullptr || pins == nullptr) {
    return Status(LIBUSB_ERROR_INVALID_PARAM);
  }
  std::uint8_t levels = 0;
  const int read = libusb_control_transfer(device->usb, kFromDevice, kReadPins, 0, kPort, &levels,
                                           1, kTimeoutMs);
  if (read < 0) {
    return Status(read);
  }
  if (read != 1) {
    return Status(LIBUSB_ERROR_IO);  // no pin byte came back
  }
  *pins = levels;
  return kStatusOk;
}

FT_STATUS DirectUsb::FT_Close(FT_HANDLE handle) {
  Device* device = Find(handle);
  if (device == nullptr) {
    return Status(LIBUSB_ERROR_INVALID_PARAM);
  }
  // The handle is spent either way: a chip that is gone cannot be released.
  const int released = device->Release();
  device_.reset();
  return Status(released);
}

FT_STATUS DirectUsb::FT_SetBaudRate(FT_HANDLE handle, std::uint32_t baudRate) {
  Device* device = Find(handle);
  if (device == nullptr || baudRate == 0) {
    return Status(LIBUSB_ERROR_INVALID_PARAM);
  }
  if (const FT_STATUS stream = device->Stream(); stream != kStatusOk) {
    return stream;
  }
  const BaudDivisor divisor = EncodeBaud(*device->family.family, baudRate, kPort);
  return Status(device->Request(kSetBaudRate, divisor.value, divisor.index));
}

FamilyReport DirectUsb::FamilyOf(FT_HANDLE handle) {
  const Device* device = Find(handle);
  return device != nullptr ? device->family : DriverLibrary::FamilyOf(handle);
}

FT_STATUS DirectUsb::FT_SetLatencyTimer(FT_HANDLE handle, std::uint8_t milliseconds) {
  Device* device = Find(handle);
  if (device == nullptr || milliseconds == 0) {
    return Status(LIBUSB_ERROR_INVALID_PARAM);
  }
  if (const FT_STATUS stream = device->Stream(); stream != kStatusOk) {
    return stream;
  }
  return Status(device->Request(kSetLatencyTimer, milliseconds));
}

FT_STATUS DirectUsb::FT_SetUSBParameters(FT_HANDLE handle, std::uint32_t inTransferSize,
                                         std::uint32_t outTransferSize) {
  constexpr std::uint32_t kUnit = 64;
  constexpr std::uint32_t kLargest = 64 * 1024;
  Device* device = Find(handle);
  const auto valid = [](std::uint32_t size) {
    return size >= kUnit && size <= kLargest && size % kUnit == 0;
  };
  if (device == nullptr || !valid(inTransferSize) || !valid(outTransferSize)) {
    return Status(LIBUSB_ERROR_INVALID_PARAM);
  }
  if (const FT_STATUS stream = device->Stream(); stream != kStatusOk) {
    return stream;
  }
  const std::uint32_t packet = device->endpoints.inPacketSize;
  device->inTransferSize = std::max(packet, inTransferSize / packet * packet);
  device->readAhead->SetTransferSize(device->inTransferSize);
  return kStatusOk;
}

FT_STATUS DirectUsb::FT_Purge(FT_HANDLE handle, std::uint32_t mask) {
  Device* device = Find(handle);
  if (device == nullptr || mask == 0 || (mask & ~(kPurgeReceive | kPurgeTransmit)) != 0) {
    return Status(LIBUSB_ERROR_INVALID_PARAM);
  }
  if (const FT_STATUS stream = device->Stream(); stream != kStatusOk) {
    return stream;
  }
  if ((mask & kPurgeTransmit) != 0) {
    if (const int purged = device->Request(kReset, kPurgeTowardsChip); purged < 0) {
      return Status(purged);
    }
  }
  if ((mask & kPurgeReceive) == 0) {
    return kStatusOk;
  }
  return device->readAhead->Purge([device] { return device->Request(kReset, kPurgeTowardsHost); });
}

FT_STATUS DirectUsb::FT_GetQueueStatus(FT_HANDLE handle, std::uint32_t* bytesQueued) {
  Device* device = Find(handle);
  if (device == nullptr || bytesQueued == nullptr) {
    return Status(LIBUSB_ERROR_INVALID_PARAM);
  }
  if (const FT_STATUS stream = device->Stream(); stream != kStatusOk) {
    return stream;
  }
  *bytesQueued = device->readAhead->Held();
  return kStatusOk;
}

bool DirectUsb::TakeArrivals(FT_HANDLE handle, std::vector<SampleArrival>& into) {
  Device* device = Find(handle);
  if (device == nullptr || device->Stream() != kStatusOk) {
    return false;
  }
  device->readAhead->TakeArrivals(into);
  return true;
}

bool DirectUsb::WaitForSamples(FT_HANDLE handle, std::chrono::nanoseconds most) {
  Device* device = Find(handle);
  if (device != nullptr && device->Stream() == kStatusOk) {
    device->readAhead->WaitForSamples(most);
  }
  return true;
}

FT_STATUS DirectUsb::FT_Read(FT_HANDLE handle, void* buffer, std::uint32_t bytesToRead,
                             std::uint32_t* bytesReturned) {
  Device* device = Find(handle);
  if (device == nullptr || bytesReturned == nullptr || (buffer == nullptr && bytesToRead > 0)) {
    return Status(LIBUSB_ERROR_INVALID_PARAM);
  }
  if (const FT_STATUS stream = device->Stream(); stream != kStatusOk) {
    return stream;
  }
  *bytesReturned = device->readAhead->Take(static_cast<std::uint8_t*>(buffer), bytesToRead);
  return kStatusOk;
}

}  // namespace capmeter
