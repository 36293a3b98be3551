#include "device/vendor_library.h"

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <utility>

#include "device/shared_library.h"

#if defined(_WIN32)
// The library's functions use the standard Windows calling convention, which
// differs from the C default on 32-bit Windows only.
#define CAPMETER_FT_CALL __stdcall
#else
#define CAPMETER_FT_CALL
#endif

namespace capmeter {

namespace {

// The library's C entry points. Status and counts are 32-bit unsigned; the
// handle is the library's pointer, at full width.
extern "C" {
typedef FT_STATUS(CAPMETER_FT_CALL* OpenEntry)(int deviceNumber, FT_HANDLE* pHandle);
typedef FT_STATUS(CAPMETER_FT_CALL* SetBitModeEntry)(FT_HANDLE handle, unsigned char mask,
                                                     unsigned char enable);
typedef FT_STATUS(CAPMETER_FT_CALL* WriteEntry)(FT_HANDLE handle, void* buffer,
                                                std::uint32_t bytesToWrite,
                                                std::uint32_t* bytesWritten);
typedef FT_STATUS(CAPMETER_FT_CALL* GetBitModeEntry)(FT_HANDLE handle, unsigned char* pins);
typedef FT_STATUS(CAPMETER_FT_CALL* CloseEntry)(FT_HANDLE handle);
typedef FT_STATUS(CAPMETER_FT_CALL* SetBaudRateEntry)(FT_HANDLE handle, std::uint32_t baudRate);
typedef FT_STATUS(CAPMETER_FT_CALL* SetLatencyTimerEntry)(FT_HANDLE handle,
                                                          unsigned char milliseconds);
typedef FT_STATUS(CAPMETER_FT_CALL* SetUSBParametersEntry)(FT_HANDLE handle,
                                                           std::uint32_t inTransferSize,
                                                           std::uint32_t outTransferSize);
typedef FT_STATUS(CAPMETER_FT_CALL* PurgeEntry)(FT_HANDLE handle, std::uint32_t mask);
typedef FT_STATUS(CAPMETER_FT_CALL* GetQueueStatusEntry)(FT_HANDLE handle,
                                                         std::uint32_t* bytesQueued);
typedef FT_STATUS(CAPMETER_FT_CALL* ReadEntry)(FT_HANDLE handle, void* buffer,
                                               std::uint32_t bytesToRead,
                                               std::uint32_t* bytesReturned);
typedef FT_STATUS(CAPMETER_FT_CALL* SetEventNotificationEntry)(FT_HANDLE handle, std::uint32_t mask,
                                                               void* event);
typedef FT_STATUS(CAPMETER_FT_CALL* CreateDeviceInfoListEntry)(std::uint32_t* numDevs);
typedef FT_STATUS(CAPMETER_FT_CALL* GetDeviceInfoDetailEntry)(
    std::uint32_t index, std::uint32_t* flags, std::uint32_t* type, std::uint32_t* id,
    std::uint32_t* locId, char* serialNumber, char* description, FT_HANDLE* handle);
typedef FT_STATUS(CAPMETER_FT_CALL* OpenExEntry)(void* arg, std::uint32_t flags, FT_HANDLE* handle);
}

// The library's status for an invalid parameter: FT_OpenEx's answer, without
// a call, to any way of finding the chip but by its serial number.
constexpr FT_STATUS kInvalidParameter = 6;

// A text the library wrote into `buffer`, which it may have filled to the
// last byte without a terminating zero.
std::string TextOf(const char* buffer, std::size_t size) {
  return std::string(buffer, std::find(buffer, buffer + size, '\0'));
}

template <typename Entry>
bool Resolve(const SharedLibrary& library, const char* name, Entry& entry) {
  entry = library.Find<Entry>(name);
  return entry != nullptr;
}

// Operations by name, each with whether the library has it.
using Lookups = std::initializer_list<std::pair<const char*, bool>>;

// The first operation the library lacks, or null when it has them all.
const char* FirstMissing(Lookups lookups) {
  for (const auto& [operation, found] : lookups) {
    if (!found) {
      return operation;
    }
  }
  return nullptr;
}

// Why one candidate could not be bound.
struct LoadFailure {
  std::string name;
  std::string reason;
  bool found = false;  // the file loaded but lacked an operation
};

std::string LoadFailureText(const LoadFailure& failure) {
  return "Error: Could not load the USB driver library " + failure.name + " (" + failure.reason +
         ").  Install the driver library, then restart program.";
}

// A loaded library, its five entry points, the six of the stream and the
// three of the chip list.
struct Entries {
  std::optional<SharedLibrary> library;
  OpenEntry open = nullptr;
  SetBitModeEntry setBitMode = nullptr;
  WriteEntry write = nullptr;
  GetBitModeEntry getBitMode = nullptr;
  CloseEntry close = nullptr;

  SetBaudRateEntry setBaudRate = nullptr;
  SetLatencyTimerEntry setLatencyTimer = nullptr;
  SetUSBParametersEntry setUSBParameters = nullptr;
  PurgeEntry purge = nullptr;
  GetQueueStatusEntry getQueueStatus = nullptr;
  ReadEntry read = nullptr;
  const char* streamMissing = nullptr;  // the first stream operation it lacks
  // Optional on its own: without it a stream is still read, between sleeps.
  SetEventNotificationEntry setEventNotification = nullptr;

  CreateDeviceInfoListEntry createDeviceInfoList = nullptr;
  GetDeviceInfoDetailEntry getDeviceInfoDetail = nullptr;
  OpenExEntry openEx = nullptr;
  const char* listMissing = nullptr;  // the first list operation it lacks
};

// Loads `name` and resolves all five operations, or says why not; then the
// stream's and the list's, which it may lack.
std::optional<LoadFailure> BindOne(const std::string& name, Entries& binding) {
  const SharedLibrary& library = binding.library.emplace(name);
  if (!library.IsOpen()) {
    return LoadFailure{name, library.Error(), false};
  }
  if (const char* missing = FirstMissing({
          {"FT_Open", Resolve(library, "FT_Open", binding.open)},
          {"FT_SetBitMode", Resolve(library, "FT_SetBitMode", binding.setBitMode)},
          {"FT_Write", Resolve(library, "FT_Write", binding.write)},
          {"FT_GetBitMode", Resolve(library, "FT_GetBitMode", binding.getBitMode)},
          {"FT_Close", Resolve(library, "FT_Close", binding.close)},
      })) {
    binding.library.reset();  // an incomplete library is let go at once
    return LoadFailure{name, std::string("it has no operation ") + missing, true};
  }
  binding.streamMissing = FirstMissing({
      {"FT_SetBaudRate", Resolve(library, "FT_SetBaudRate", binding.setBaudRate)},
      {"FT_SetLatencyTimer", Resolve(library, "FT_SetLatencyTimer", binding.setLatencyTimer)},
      {"FT_SetUSBParameters", Resolve(library, "FT_SetUSBParameters", binding.setUSBParameters)},
      {"FT_Purge", Resolve(library, "FT_Purge", binding.purge)},
      {"FT_GetQueueStatus", Resolve(library, "FT_GetQueueStatus", binding.getQueueStatus)},
      {"FT_Read", Resolve(library, "FT_Read", binding.read)},
  });
  Resolve(library, "FT_SetEventNotification", binding.setEventNotification);
  binding.listMissing = FirstMissing({
      {"FT_CreateDeviceInfoList",
       Resolve(library, "FT_CreateDeviceInfoList", binding.createDeviceInfoList)},
      {"FT_GetDeviceInfoDetail",
       Resolve(library, "FT_GetDeviceInfoDetail", binding.getDeviceInfoDetail)},
      {"FT_OpenEx", Resolve(library, "FT_OpenEx", binding.openEx)},
  });
  return std::nullopt;
}

}  // namespace

struct VendorLibrary::Binding final : Entries {};

VendorLibrary::VendorLibrary(std::vector<std::string> libraryNames)
    : libraryNames_(libraryNames.empty() ? DefaultLibraryNames() : std::move(libraryNames)) {}

VendorLibrary::~VendorLibrary() = default;

void VendorLibrary::SetLoadFailureReport(LoadFailureReport report) {
  report_ = std::move(report);
}

std::vector<std::string> VendorLibrary::DefaultLibraryNames() {
#if defined(_WIN32)
  return {"FTD2XX.DLL"};
#elif defined(__APPLE__)
  return {"libftd2xx.dylib"};
#else
  // The development link name first, then the versioned name, which is all
  // an installation without the development link provides.
  return {"libftd2xx.so", "libftd2xx.so.1"};
#endif
}

const VendorLibrary::Binding* VendorLibrary::Bound() {
  if (!loadAttempted_) {
    loadAttempted_ = true;
    Load();
  }
  return binding_.get();
}

void VendorLibrary::Load() {
  // When no candidate works, the user hears about one: a library that was
  // found but is incomplete says more than a name that is simply absent.
  std::optional<LoadFailure> reported;
  for (const std::string& name : libraryNames_) {
    auto binding = std::make_unique<Binding>();
    std::optional<LoadFailure> failure = BindOne(name, *binding);
    if (!failure) {
      const std::string path = binding->library->PathOf("FT_Open");
      loadedFile_ = path.empty() || path == name ? name : name + " (" + path + ")";
      binding_ = std::move(binding);
      return;
    }
    if (!reported || (failure->found && !reported->found)) {
      reported = std::move(failure);
    }
  }
  if (!reported) {
    return;
  }
  loadError_ = reported->name + " (" + reported->reason + ")";
  if (report_) {
    report_(LoadFailureText(*reported));
  }
}

FT_STATUS VendorLibrary::FT_Open(std::int32_t deviceIndex, FT_HANDLE* handle) {
  const Binding* bound = Bound();
  return bound != nullptr ? bound->open(deviceIndex, handle) : kLibraryNotLoaded;
}

FT_STATUS VendorLibrary::FT_SetBitMode(FT_HANDLE handle, std::uint8_t mask, std::uint8_t enable) {
  const Binding* bound = Bound();
  return bound != nullptr ? bound->setBitMode(handle, mask, enable) : kLibraryNotLoaded;
}

FT_STATUS VendorLibrary::FT_Write(FT_HANDLE handle, const void* buffer, std::uint32_t bytesToWrite,
                                  std::uint32_t* bytesWritten) {
  const Binding* bound = Bound();
  // The library only reads the buffer; its declaration just lacks the const.
  return bound != nullptr
             ? bound->write(handle, const_cast<void*>(buffer), bytesToWrite, bytesWritten)
             : kLibraryNotLoaded;
}

FT_STATUS VendorLibrary::FT_GetBitMode(FT_HANDLE handle, std::uint8_t* pins) {
  const Binding* bound = Bound();
  return bound != nullptr ? bound->getBitMode(handle, pins) : kLibraryNotLoaded;
}

FT_STATUS VendorLibrary::FT_Close(FT_HANDLE handle) {
  const Binding* bound = Bound();
  const FT_STATUS status = bound != nullptr ? bound->close(handle) : kLibraryNotLoaded;
  // The closed handle's notification went with it.
  if (status == kStatusOk && handle == arrivalFor_) {
    arrival_.reset();
    arrivalFor_ = nullptr;
  }
  return status;
}

std::string VendorLibrary::StatusName(FT_STATUS status) const {
  return status == kLibraryNotLoaded ? "driver library not loaded" : VendorStatusName(status);
}

SampleStream* VendorLibrary::SampleStreaming() {
  const Binding* bound = Bound();
  return bound != nullptr && bound->streamMissing == nullptr ? this : nullptr;
}

std::string VendorLibrary::WhyNoSampleStream() const {
  return WhyMissing(binding_ ? binding_->streamMissing : nullptr);
}

DeviceList* VendorLibrary::Devices() {
  const Binding* bound = Bound();
  return bound != nullptr && bound->listMissing == nullptr ? this : nullptr;
}

std::string VendorLibrary::WhyNoDeviceList() const {
  return WhyMissing(binding_ ? binding_->listMissing : nullptr);
}

std::string VendorLibrary::WhyMissing(const char* missing) const {
  if (!binding_) {
    return loadError_.empty() ? "the driver library is not loaded"
                              : "the driver library is not loaded: " + loadError_;
  }
  if (missing == nullptr) {
    return {};
  }
  return "the driver library " + loadedFile_ + " has no " + missing;
}

// The stream's operations are reached through SampleStreaming() only, so
// the library is bound with all six.
bool VendorLibrary::WaitForSamples(FT_HANDLE handle, std::chrono::nanoseconds most) {
  if (binding_->setEventNotification == nullptr) {
    return false;
  }
  if (!arrival_ || handle != arrivalFor_) {
    auto event = std::make_unique<ArrivalEvent>();
    if (binding_->setEventNotification(handle, kEventReceivedCharacters, event->Argument()) !=
        kStatusOk) {
      return false;
    }
    arrival_ = std::move(event);
    arrivalFor_ = handle;
  }
  arrival_->Wait(most);
  return true;
}

FT_STATUS VendorLibrary::FT_SetBaudRate(FT_HANDLE handle, std::uint32_t baudRate) {
  return binding_->setBaudRate(handle, baudRate);
}

FT_STATUS VendorLibrary::FT_SetLatencyTimer(FT_HANDLE handle, std::uint8_t milliseconds) {
  return binding_->setLatencyTimer(handle, milliseconds);
}

FT_STATUS VendorLibrary::FT_SetUSBParameters(FT_HANDLE handle, std::uint32_t inTransferSize,
                                             std::uint32_t outTransferSize) {
  return binding_->setUSBParameters(handle, inTransferSize, outTransferSize);
}

FT_STATUS VendorLibrary::FT_Purge(FT_HANDLE handle, std::uint32_t mask) {
  return binding_->purge(handle, mask);
}

FT_STATUS VendorLibrary::FT_GetQueueStatus(FT_HANDLE handle, std::uint32_t* bytesQueued) {
  return binding_->getQueueStatus(handle, bytesQueued);
}

FT_STATUS VendorLibrary::FT_Read(FT_HANDLE handle, void* buffer, std::uint32_t bytesToRead,
                                 std::uint32_t* bytesReturned) {
  return binding_->read(handle, buffer, bytesToRead, bytesReturned);
}

// The list's operations are reached through Devices() only, so the library
// is bound with all three.
FT_STATUS VendorLibrary::FT_CreateDeviceInfoList(std::uint32_t* count) {
  return binding_->createDeviceInfoList(count);
}

FT_STATUS VendorLibrary::FT_GetDeviceInfoDetail(std::uint32_t index, DeviceInfo* info) {
  std::uint32_t flags = 0;
  std::uint32_t type = 0;
  std::uint32_t id = 0;
  std::uint32_t locId = 0;
  char serialNumber[kSerialNumberSize] = {};
  char description[kDescriptionSize] = {};
  FT_HANDLE handle = nullptr;
  const FT_STATUS status = binding_->getDeviceInfoDetail(index, &flags, &type, &id, &locId,
                                                         serialNumber, description, &handle);
  if (status == kStatusOk) {
    // No location in words: the library tells only the number.
    *info = DeviceInfo{.flags = flags,
                       .locId = locId,
                       .serialNumber = TextOf(serialNumber, sizeof serialNumber),
                       .description = TextOf(description, sizeof description),
                       .location = {}};
  }
  return status;
}

FamilyReport VendorLibrary::FamilyOf(FT_HANDLE handle) {
  FamilyReport report;
  std::uint32_t count = 0;
  if (Devices() == nullptr || binding_->createDeviceInfoList(&count) != kStatusOk) {
    report.how = "the driver library cannot say which chip it has (" + WhyNoDeviceList() +
                 "), so the rate it streams at is measured";
    return report;
  }
  for (std::uint32_t index = 0; index < count; ++index) {
    std::uint32_t flags = 0, type = 0, id = 0, locId = 0;
    char serialNumber[kSerialNumberSize] = {};
    char description[kDescriptionSize] = {};
    FT_HANDLE listed = nullptr;
    if (binding_->getDeviceInfoDetail(index, &flags, &type, &id, &locId, serialNumber, description,
                                      &listed) != kStatusOk ||
        listed != handle || handle == nullptr) {
      continue;
    }
    const std::string told = "device type " + std::to_string(type) + " from FT_GetDeviceInfoDetail";
    if (const ChipFamily* family = FamilyForDeviceType(type)) {
      return {family, true, told};
    }
    report.how = told + " is no family known here";
    return report;
  }
  report.how = "FT_GetDeviceInfoDetail lists no chip with this handle";
  return report;
}

FT_STATUS VendorLibrary::FT_OpenEx(const std::string& serialNumber, std::uint32_t openBy,
                                   FT_HANDLE* handle) {
  if (openBy != kOpenBySerialNumber) {
    return kInvalidParameter;
  }
  // The library only reads the serial number; its declaration takes any pointer.
  return binding_->openEx(const_cast<char*>(serialNumber.c_str()), openBy, handle);
}

}  // namespace capmeter
