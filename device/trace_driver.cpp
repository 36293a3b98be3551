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
          "results; \"a..b ... xN\" is N reads in a row with the same answer\n";
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
  // Flushed at once, so the trace can be followed while the program runs
  // and holds every call up to a crash; runs of reads keep the lines few.
  out_ << Micros(at) << ' ' << text << '\n' << std::flush;
}

void TraceDriver::WriteRun() {
  if (!run_) {
    return;
  }
  std::string text = "FT_GetBitMode" + Status(run_->status);
  if (run_->pins) {
    text += " pins=" + HexText(*run_->pins);
  }
  if (run_->count == 1) {
    WriteLine(run_->first, text);
  } else {
    out_ << Micros(run_->first) << ".." << Micros(run_->last) << ' ' << text << " x" << run_->count
         << '\n';
  }
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
  WriteRun();
  const auto at = SinceStart();
  const FT_STATUS status = inner_.FT_SetBitMode(handle, mask, enable);
  WriteLine(at,
            "FT_SetBitMode mask=" + HexText(mask) + " enable=" + HexText(enable) + Status(status));
  return status;
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
  if (run_ && run_->status == status && run_->pins == answer) {
    run_->last = at;
    ++run_->count;
  } else {
    WriteRun();
    run_ = ReadRun{at, at, 1, status, answer};
  }
  return status;
}

FT_STATUS TraceDriver::FT_Close(FT_HANDLE handle) {
  WriteRun();
  const auto at = SinceStart();
  const FT_STATUS status = inner_.FT_Close(handle);
  WriteLine(at, "FT_Close" + Status(status));
  out_.flush();
  return status;
}

}  // namespace capmeter
