#include "device/direct_usb.h"

#include <libusb.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <system_error>

namespace capmeter {

namespace {

// The chip's requests, all on its first and only port.
constexpr std::uint8_t kToDevice = 0x40;    // vendor request, host to device
constexpr std::uint8_t kFromDevice = 0xC0;  // vendor request, device to host
constexpr std::uint8_t kReset = 0x00;
constexpr std::uint8_t kSetBitMode = 0x0B;
constexpr std::uint8_t kReadPins = 0x0C;
constexpr std::uint16_t kResetPort = 0;
constexpr std::uint16_t kResetPurgeReceive = 1;
constexpr std::uint16_t kResetPurgeTransmit = 2;
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

FT_STATUS Status(int libusbError) {
  return libusbError >= 0 ? kStatusOk : kUsbStatusBase + static_cast<FT_STATUS>(-libusbError);
}

std::string ThreeDigits(std::uint8_t number) {
  return std::to_string(1000 + number).substr(1);
}

// Where Linux puts the device's node; the bus and address elsewhere.
std::string DeviceNode(libusb_device* device) {
  return "/dev/bus/usb/" + ThreeDigits(libusb_get_bus_number(device)) + "/" +
         ThreeDigits(libusb_get_device_address(device));
}

// The name of the kernel driver bound to the chip's first interface, as sysfs
// tells it; "a kernel driver" where it does not.
std::string KernelDriverName(libusb_device* device, std::uint8_t configuration) {
  std::array<std::uint8_t, 8> ports{};
  const int depth = libusb_get_port_numbers(device, ports.data(), static_cast<int>(ports.size()));
  std::string name = std::to_string(libusb_get_bus_number(device)) + "-";
  for (int i = 0; i < depth; ++i) {
    if (i > 0) name += '.';
    name += std::to_string(ports[static_cast<std::size_t>(i)]);
  }
  name += ':';
  name += std::to_string(configuration);
  name += '.';
  name += std::to_string(kInterface);
  std::error_code error;
  const auto driver =
      std::filesystem::read_symlink("/sys/bus/usb/devices/" + name + "/driver", error);
  return error || driver.filename().empty() ? "a kernel driver" : driver.filename().string();
}

// The first interface's bulk OUT endpoint, or 0 when it has none.
std::uint8_t BulkOutEndpoint(libusb_device* device, std::uint8_t& configuration) {
  libusb_config_descriptor* config = nullptr;
  if (libusb_get_active_config_descriptor(device, &config) != LIBUSB_SUCCESS) {
    return 0;
  }
  configuration = config->bConfigurationValue;
  std::uint8_t found = 0;
  if (config->bNumInterfaces > kInterface && config->interface[kInterface].num_altsetting > 0) {
    const libusb_interface_descriptor& setting = config->interface[kInterface].altsetting[0];
    for (int i = 0; i < setting.bNumEndpoints && found == 0; ++i) {
      const libusb_endpoint_descriptor& endpoint = setting.endpoint[i];
      if ((endpoint.bEndpointAddress & LIBUSB_ENDPOINT_DIR_MASK) == LIBUSB_ENDPOINT_OUT &&
          (endpoint.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK) == LIBUSB_TRANSFER_TYPE_BULK) {
        found = endpoint.bEndpointAddress;
      }
    }
  }
  libusb_free_config_descriptor(config);
  return found;
}

// A device list that frees itself.
class DeviceList {
 public:
  explicit DeviceList(libusb_context* context)
      : count_(libusb_get_device_list(context, &devices_)) {}
  ~DeviceList() {
    if (count_ >= 0) libusb_free_device_list(devices_, 1);
  }
  DeviceList(const DeviceList&) = delete;
  DeviceList& operator=(const DeviceList&) = delete;

  // The libusb error when listing failed, else 0.
  int Error() const { return count_ < 0 ? static_cast<int>(count_) : 0; }
  std::size_t Size() const { return count_ < 0 ? 0 : static_cast<std::size_t>(count_); }
  libusb_device* operator[](std::size_t i) const { return devices_[i]; }

 private:
  libusb_device** devices_ = nullptr;
  ssize_t count_;
};

UsbId IdOf(libusb_device* device) {
  libusb_device_descriptor descriptor{};
  libusb_get_device_descriptor(device, &descriptor);
  return {descriptor.idVendor, descriptor.idProduct};
}

}  // namespace

struct DirectUsb::Session {
  libusb_context* context = nullptr;
  ~Session() { libusb_exit(context); }
};

struct DirectUsb::Device {
  FT_HANDLE handle = nullptr;
  libusb_device_handle* usb = nullptr;
  std::uint8_t outEndpoint = 0;

  int Request(std::uint8_t request, std::uint16_t value) const {
    return libusb_control_transfer(usb, kToDevice, request, value, kPort, nullptr, 0, kTimeoutMs);
  }
  // Lets the chip go: its interface back to the kernel's driver, then closed.
  int Release() const {
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
  const DeviceList devices(session_->context);
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
  if (device_) {
    return Status(LIBUSB_ERROR_BUSY);  // one open device at a time
  }
  if (const FT_STATUS started = StartSession(); started != kStatusOk) {
    return started;
  }
  const DeviceList devices(session_->context);
  if (devices.Error() != 0) {
    return Status(devices.Error());
  }
  libusb_device* chosen = nullptr;
  for (std::size_t i = 0, seen = 0; i < devices.Size() && chosen == nullptr; ++i) {
    if (IdOf(devices[i]) == id_ && seen++ == static_cast<std::size_t>(deviceIndex)) {
      chosen = devices[i];
    }
  }
  if (chosen == nullptr) {
    return Status(LIBUSB_ERROR_NOT_FOUND);
  }

  auto device = std::make_unique<Device>();
  if (const int opened = libusb_open(chosen, &device->usb); opened != LIBUSB_SUCCESS) {
    return Status(opened);
  }
  std::uint8_t configuration = 1;
  device->outEndpoint = BulkOutEndpoint(chosen, configuration);
  // Where the platform has kernel drivers to detach, the claim detaches the
  // one holding the chip and the release re-attaches it.
  libusb_set_auto_detach_kernel_driver(device->usb, 1);
  const bool driverBound = libusb_kernel_driver_active(device->usb, kInterface) == 1;
  int failure = device->outEndpoint == 0 ? LIBUSB_ERROR_NOT_SUPPORTED : LIBUSB_SUCCESS;
  if (failure == LIBUSB_SUCCESS) {
    failure = libusb_claim_interface(device->usb, kInterface);
    if (failure != LIBUSB_SUCCESS) {
      libusb_close(device->usb);
      return Status(failure);
    }
  }
  for (const std::uint16_t reset : {kResetPort, kResetPurgeReceive, kResetPurgeTransmit}) {
    if (failure == LIBUSB_SUCCESS) {
      failure = std::min(device->Request(kReset, reset), 0);
    }
  }
  if (failure != LIBUSB_SUCCESS) {
    device->Release();
    return Status(failure);
  }
  opened_ = {DeviceNode(chosen), driverBound ? KernelDriverName(chosen, configuration) : ""};
  // A new handle for every open, so one from an earlier open stays invalid.
  device->handle = reinterpret_cast<FT_HANDLE>(kHandleMark + ++opens_);
  device_ = std::move(device);
  *handle = device_->handle;
  return kStatusOk;
}

FT_STATUS DirectUsb::FT_SetBitMode(FT_HANDLE handle, std::uint8_t mask, std::uint8_t enable) {
  const Device* device = Find(handle);
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
  const int sent = libusb_bulk_transfer(device->usb, device->outEndpoint,
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
  const Device* device = Find(handle);
  if (device == nullptr) {
    return Status(LIBUSB_ERROR_INVALID_PARAM);
  }
  // The handle is spent either way: a chip that is gone cannot be released.
  const int released = device->Release();
  device_.reset();
  return Status(released);
}

}  // namespace capmeter
