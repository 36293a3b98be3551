#include "device/trace_driver.h"

#include <ostream>
#include <utility>

#include "device/hex_text.h"

namespace capmeter {

namespace {

// Microseconds with three decimals, from whole nanoseconds: no floating
// point and no locale, so every trace reads the same.
std::string Micros(std::chrono::nanoseconds span) {
  const long long ns = span.count();
  const unsigned long long magnitude =
      ns < 0 ? 0ULL - static_cast<unsigned long long>(ns) : static_cast<unsigned long long>(ns);
  const std::string fraction = std::to_string(magnitude % 1000);
  std::string text = ns < 0 ? "-" : "";
  text += std::to_string(magnitude / 1000);
  text += '.';
  text.append(3 - fraction.size(), '0');
  text += fraction;
  return text;
}

}  // namespace

TraceDriver::TraceDriver(DriverLibrary& inner, std::ostream& out, TimeSource now)
    : inner_(inner), out_(out), now_(std::move(now)), start_(now_()) {
  out_ << "# capmeter driver trace: microseconds since start, operation, arguments -> status, "
          "results; \"a..b ... xN\" is N reads in a row with the same answer, or N calls "
          "of that operation in a run of stream reads\n";
}

TraceDriver::~TraceDriver() {
  Flush();
}

std::chrono::nanoseconds TraceDriver::SinceStart() const {
  return now_() - start_;
}

std::string TraceDriver::Status(FT_STATUS status) const {
  const std::string name = inner_.StatusName(status);
  return " -> " + std::to_string(status) + (name.empty() ? "" : " (" + name + ")");
}

void TraceDriver::WriteLine(std::chrono::nanoseconds at, const std::string& text) {
  WriteLine(Micros(at), text);
}

void TraceDriver::WriteLine(const std::string& when, const std::string& text) {
  // Flushed at once, so the trace can be followed while the program runs
  // and holds every call up to a crash; runs of reads keep the lines few.
  out_ << when << ' ' << text << '\n' << std::flush;
}

TraceDriver::Run& TraceDriver::Continue(std::chrono::nanoseconds at, bool joins,
                                        std::variant<PinReads, StreamReads> fresh) {
  if (run_ && joins) {
    run_->last = at;
    ++run_->calls;
  } else {
    WriteRun();
    run_ = Run{at, at, 1, fresh};
  }
  return *run_;
}

void TraceDriver::WriteRun() {
  if (!run_) {
    return;
  }
  std::string text;
  if (const auto* pins = std::get_if<PinReads>(&run_->reads)) {
    text = "FT_GetBitMode" + Status(pins->status);
    if (pins->pins) {
      text += " pins=" + HexText(*pins->pins);
    }
    if (run_->calls > 1) {
      text += " x" + std::to_string(run_->calls);
    }
  } else {
    const auto& stream = std::get<StreamReads>(run_->reads);
    text = "FT_GetQueueStatus x" + std::to_string(stream.looks) + ", FT_Read x" +
           std::to_string(stream.reads) + Status(kStatusOk) +
           " bytes=" + std::to_string(stream.bytes);
    if (stream.bytes > 0) {
      text += " first=" + HexText(stream.firstByte) + " last=" + HexText(stream.lastByte);
    }
  }
  const std::string first = Micros(run_->first);
  WriteLine(run_->calls > 1 ? first + ".." + Micros(run_->last) : first, text);
  run_.reset();
}

void TraceDriver::Note(std::string_view text) {
  WriteRun();
  out_ << "# " << Micros(SinceStart()) << ' ' << text << '\n';
}

void TraceDriver::Flush() {
  WriteRun();
  out_.flush();
}

FT_STATUS TraceDriver::FT_Open(std::int32_t deviceIndex, FT_HANDLE* handle) {
  WriteRun();
  const auto at = SinceStart();
  const FT_STATUS status = inner_.FT_Open(deviceIndex, handle);
  std::string text = "FT_Open index=" + std::to_string(deviceIndex) + Status(status);
  if (status == kStatusOk && handle != nullptr) {
    text += " handle=" + HexText(reinterpret_cast<std::uintptr_t>(*handle), 1);
  }
  WriteLine(at, text);
  // An open is where bring-up usually fails; let it reach the file at once.
  out_.flush();
  return status;
}

FT_STATUS TraceDriver::FT_SetBitMode(FT_HANDLE handle, std::uint8_t mask, std::uint8_t enable) {
  return Traced("FT_SetBitMode mask=" + HexText(mask) + " enable=" + HexText(enable),
                [&] { return inner_.FT_SetBitMode(handle, mask, enable); });
}

FT_STATUS TraceDriver::FT_Write(FT_HANDLE handle, const void* buffer, std::uint32_t bytesToWrite,
                                std::uint32_t* bytesWritten) {
  WriteRun();
  // Read the bytes before the call: the caller's buffer is only borrowed.
  std::string bytes;
  const auto* data = static_cast<const std::uint8_t*>(buffer);
  for (std::uint32_t i = 0; data != nullptr && i < bytesToWrite; ++i) {
    if (i > 0) {
      bytes += ',';
    }
    bytes += HexText(data[i]);
  }
  const auto at = SinceStart();
  const FT_STATUS status = inner_.FT_Write(handle, buffer, bytesToWrite, bytesWritten);
  std::string text =
      "FT_Write bytes=" + bytes + " length=" + std::to_string(bytesToWrite) + Status(status);
  if (status == kStatusOk && bytesWritten != nullptr) {
    text += " written=" + std::to_string(*bytesWritten);
  }
  WriteLine(at, text);
  return status;
}

FT_STATUS TraceDriver::FT_GetBitMode(FT_HANDLE handle, std::uint8_t* pins) {
  const auto at = SinceStart();
  const FT_STATUS status = inner_.FT_GetBitMode(handle, pins);
  std::optional<std::uint8_t> answer;
  if (status == kStatusOk && pins != nullptr) {
    answer = *pins;
  }
  const PinReads reads{status, answer};
  const PinReads* pending = PendingRun<PinReads>();
  Continue(at, pending != nullptr && *pending == reads, reads);
  return status;
}

FT_STATUS TraceDriver::FT_Close(FT_HANDLE handle) {
  return Traced("FT_Close", [&] { return inner_.FT_Close(handle); });
}

DeviceList* TraceDriver::Devices() {
  innerList_ = inner_.Devices();
  return innerList_ != nullptr ? this : nullptr;
}

FT_STATUS TraceDriver::FT_CreateDeviceInfoList(std::uint32_t* count) {
  WriteRun();
  const auto at = SinceStart();
  const FT_STATUS status = innerList_->FT_CreateDeviceInfoList(count);
  std::string text = "FT_CreateDeviceInfoList" + Status(status);
  if (status == kStatusOk && count != nullptr) {
    text += " count=" + std::to_string(*count);
  }
  WriteLine(at, text);
  return status;
}

FT_STATUS TraceDriver::FT_GetDeviceInfoDetail(std::uint32_t index, DeviceInfo* info) {
  WriteRun();
  const auto at = SinceStart();
  const FT_STATUS status = innerList_->FT_GetDeviceInfoDetail(index, info);
  std::string text = "FT_GetDeviceInfoDetail index=" + std::to_string(index) + Status(status);
  if (status == kStatusOk && info != nullptr) {
    text += " flags=" + std::to_string(info->flags) + " serial=\"" + info->serialNumber + "\"";
  }
  WriteLine(at, text);
  return status;
}

FT_STATUS TraceDriver::FT_OpenEx(const std::string& serialNumber, std::uint32_t openBy,
                                 FT_HANDLE* handle) {
  WriteRun();
  const auto at = SinceStart();
  const FT_STATUS status = innerList_->FT_OpenEx(serialNumber, openBy, handle);
  std::string text =
      "FT_OpenEx serial=\"" + serialNumber + "\" by=" + std::to_string(openBy) + Status(status);
  if (status == kStatusOk && handle != nullptr) {
    text += " handle=" + HexText(reinterpret_cast<std::uintptr_t>(*handle), 1);
  }
  WriteLine(at, text);
  out_.flush();
  return status;
}

SampleStream* TraceDriver::SampleStreaming() {
  innerStream_ = inner_.SampleStreaming();
  return innerStream_ != nullptr ? this : nullptr;
}

FT_STATUS TraceDriver::FT_SetBaudRate(FT_HANDLE handle, std::uint32_t baudRate) {
  return Traced("FT_SetBaudRate baud=" + std::to_string(baudRate),
                [&] { return innerStream_->FT_SetBaudRate(handle, baudRate); });
}

FT_STATUS TraceDriver::FT_SetLatencyTimer(FT_HANDLE handle, std::uint8_t milliseconds) {
  return Traced("FT_SetLatencyTimer ms=" + std::to_string(milliseconds),
                [&] { return innerStream_->FT_SetLatencyTimer(handle, milliseconds); });
}

FT_STATUS TraceDriver::FT_SetUSBParameters(FT_HANDLE handle, std::uint32_t inTransferSize,
                                           std::uint32_t outTransferSize) {
  return Traced(
      "FT_SetUSBParameters in=" + std::to_string(inTransferSize) +
          " out=" + std::to_string(outTransferSize),
      [&] { return innerStream_->FT_SetUSBParameters(handle, inTransferSize, outTransferSize); });
}

FT_STATUS TraceDriver::FT_Purge(FT_HANDLE handle, std::uint32_t mask) {
  return Traced("FT_Purge mask=" + std::to_string(mask),
                [&] { return innerStream_->FT_Purge(handle, mask); });
}

TraceDriver::StreamReads* TraceDriver::StreamRead(std::chrono::nanoseconds at, FT_STATUS status,
                                                  const std::string& text) {
  if (status != kStatusOk) {
    WriteRun();
    WriteLine(at, text + Status(status));
    return nullptr;
  }
  Run& run = Continue(at, PendingRun<StreamReads>() != nullptr, StreamReads{});
  return &std::get<StreamReads>(run.reads);
}

FT_STATUS TraceDriver::FT_GetQueueStatus(FT_HANDLE handle, std::uint32_t* bytesQueued) {
  const auto at = SinceStart();
  const FT_STATUS status = innerStream_->FT_GetQueueStatus(handle, bytesQueued);
  if (StreamReads* reads = StreamRead(at, status, "FT_GetQueueStatus")) {
    ++reads->looks;
  }
  return status;
}

FT_STATUS TraceDriver::FT_Read(FT_HANDLE handle, void* buffer, std::uint32_t bytesToRead,
                               std::uint32_t* bytesReturned) {
  const auto at = SinceStart();
  const FT_STATUS status = innerStream_->FT_Read(handle, buffer, bytesToRead, bytesReturned);
  StreamReads* reads = StreamRead(at, status, "FT_Read length=" + std::to_string(bytesToRead));
  if (reads == nullptr) {
    return status;
  }
  ++reads->reads;
  const std::uint32_t got = bytesReturned != nullptr ? *bytesReturned : 0;
  if (got > 0 && buffer != nullptr) {
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    if (reads->bytes == 0) {
      reads->firstByte = bytes[0];
    }
    reads->lastByte = bytes[got - 1];
    reads->bytes += got;
  }
  return status;
}

}  // namespace capmeter
