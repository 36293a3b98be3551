#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "device/driver_library.h"

namespace capmeter {

// Passes every call on to another driver library and writes one line per
// call: the time since the trace began in microseconds, the operation, its
// arguments, the status and what the call handed back (the handle, the count
// written, the pin byte). A run of reads with the same answer becomes one
// line with the time span and a count, so a ten-second poll loop writes a
// line or two instead of thousands.
//
// The trace has its own time source rather than the measurement's clock:
// the device layer knows nothing of that clock, and any steady time will do.
class TraceDriver final : public DriverLibrary {
 public:
  using TimeSource = std::function<std::chrono::nanoseconds()>;

  // Writes a heading line at once; `now` is read before and during every call.
  TraceDriver(DriverLibrary& inner, std::ostream& out, TimeSource now);
  ~TraceDriver() override;  // writes the pending run of reads, if any
  TraceDriver(const TraceDriver&) = delete;
  TraceDriver& operator=(const TraceDriver&) = delete;

  FT_STATUS FT_Open(std::int32_t deviceIndex, FT_HANDLE* handle) override;
  FT_STATUS FT_SetBitMode(FT_HANDLE handle, std::uint8_t mask, std::uint8_t enable) override;
  FT_STATUS FT_Write(FT_HANDLE handle, const void* buffer, std::uint32_t bytesToWrite,
                     std::uint32_t* bytesWritten) override;
  FT_STATUS FT_GetBitMode(FT_HANDLE handle, std::uint8_t* pins) override;
  FT_STATUS FT_Close(FT_HANDLE handle) override;
  // The traced driver's words, also written after each failure's number.
  std::string StatusName(FT_STATUS status) const override { return inner_.StatusName(status); }

  // A remark in the trace ("# text"), e.g. which library file was loaded.
  void Note(std::string_view text);
  // Writes the pending run of reads and flushes the stream.
  void Flush();

 private:
  // Reads with the same status and pin byte, not yet written.
  struct ReadRun {
    std::chrono::nanoseconds first{0};
    std::chrono::nanoseconds last{0};
    std::uint64_t count = 0;
    FT_STATUS status = 0;
    std::optional<std::uint8_t> pins;  // only a successful read has one
  };

  std::chrono::nanoseconds SinceStart() const;
  std::string Status(FT_STATUS status) const;
  void WriteRun();
  void WriteLine(std::chrono::nanoseconds at, const std::string& text);

  DriverLibrary& inner_;
  std::ostream& out_;
  TimeSource now_;
  std::chrono::nanoseconds start_;
  std::optional<ReadRun> run_;
};

}  // namespace capmeter
