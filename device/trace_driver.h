#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "device/driver_library.h"
#include "device/sample_stream.h"

namespace capmeter {

// Passes every call on to another driver library and writes one line per
// call: the time since the trace began in microseconds, the operation, its
// arguments, the status and what the call handed back (the handle, the count
// written, the pin byte). A run of reads with the same answer becomes one
// line with the time span and a count, so a ten-second poll loop writes a
// line or two instead of thousands. When the traced driver can stream, so
// can the trace; a run of successful FT_GetQueueStatus and FT_Read calls
// becomes one line too, with the count of each and the bytes read.
//
// The trace has its own time source rather than the measurement's clock:
// the device layer knows nothing of that clock, and any steady time will do.
class TraceDriver final : public DriverLibrary, private SampleStream, private DeviceList {
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
  // The trace itself, when the traced driver can stream.
  SampleStream* SampleStreaming() override;
  std::string WhyNoSampleStream() const override { return inner_.WhyNoSampleStream(); }
  // The trace itself, when the traced driver lists chips.
  DeviceList* Devices() override;
  std::string WhyNoDeviceList() const override { return inner_.WhyNoDeviceList(); }
  FamilyReport FamilyOf(FT_HANDLE handle) override { return inner_.FamilyOf(handle); }

  // A remark in the trace ("# text"), e.g. which library file was loaded.
  void Note(std::string_view text);
  // Writes the pending run of reads and flushes the stream.
  void Flush();

 private:
  // Reached through SampleStreaming() only, which found the traced stream.
  FT_STATUS FT_SetBaudRate(FT_HANDLE handle, std::uint32_t baudRate) override;
  FT_STATUS FT_SetLatencyTimer(FT_HANDLE handle, std::uint8_t milliseconds) override;
  FT_STATUS FT_SetUSBParameters(FT_HANDLE handle, std::uint32_t inTransferSize,
                                std::uint32_t outTransferSize) override;
  FT_STATUS FT_Purge(FT_HANDLE handle, std::uint32_t mask) override;
  FT_STATUS FT_GetQueueStatus(FT_HANDLE handle, std::uint32_t* bytesQueued) override;
  FT_STATUS FT_Read(FT_HANDLE handle, void* buffer, std::uint32_t bytesToRead,
                    std::uint32_t* bytesReturned) override;
  // Passed on untraced: it crosses no USB.
  bool TakeArrivals(FT_HANDLE handle, std::vector<SampleArrival>& into) override {
    return innerStream_->TakeArrivals(handle, into);
  }
  bool WaitForSamples(FT_HANDLE handle, std::chrono::nanoseconds most) override {
    return innerStream_->WaitForSamples(handle, most);
  }

  // Reached through Devices() only, which found the traced list.
  FT_STATUS FT_CreateDeviceInfoList(std::uint32_t* count) override;
  FT_STATUS FT_GetDeviceInfoDetail(std::uint32_t index, DeviceInfo* info) override;
  FT_STATUS FT_OpenEx(const std::string& serialNumber, std::uint32_t openBy,
                      FT_HANDLE* handle) override;

  // FT_GetBitMode calls with the same status and pin byte.
  struct PinReads {
    FT_STATUS status = 0;
    std::optional<std::uint8_t> pins;  // only a successful read has one
    bool operator==(const PinReads&) const = default;
  };
  // Successful FT_GetQueueStatus and FT_Read calls, as a stream is read.
  struct StreamReads {
    std::uint64_t looks = 0;
    std::uint64_t reads = 0;
    std::uint64_t bytes = 0;
    std::uint8_t firstByte = 0;
    std::uint8_t lastByte = 0;
  };
  // Calls in a row that become one line, not yet written.
  struct Run {
    std::chrono::nanoseconds first{0};
    std::chrono::nanoseconds last{0};
    std::uint64_t calls = 1;
    std::variant<PinReads, StreamReads> reads;
  };

  std::chrono::nanoseconds SinceStart() const;
  std::string Status(FT_STATUS status) const;
  // The pending run when it is one of `Reads`, else null.
  template <typename Reads>
  Reads* PendingRun() {
    return run_ ? std::get_if<Reads>(&run_->reads) : nullptr;
  }
  // The pending run with a call at `at` added when `joins`; else the pending
  // run is written and `fresh` begins a new one.
  Run& Continue(std::chrono::nanoseconds at, bool joins, std::variant<PinReads, StreamReads> fresh);
  // A stream read at `at`: a failed one is written at once as `text` and its
  // status, and null returned; a successful one joins the run of them.
  StreamReads* StreamRead(std::chrono::nanoseconds at, FT_STATUS status, const std::string& text);
  // A call that answers with its status only: one line of `text` and it.
  template <typename Call>
  FT_STATUS Traced(const std::string& text, Call call) {
    WriteRun();
    const auto at = SinceStart();
    const FT_STATUS status = call();
    WriteLine(at, text + Status(status));
    return status;
  }
  void WriteRun();
  void WriteLine(std::chrono::nanoseconds at, const std::string& text);
  void WriteLine(const std::string& when, const std::string& text);

  DriverLibrary& inner_;
  std::ostream& out_;
  TimeSource now_;
  std::chrono::nanoseconds start_;
  std::optional<Run> run_;
  SampleStream* innerStream_ = nullptr;
  DeviceList* innerList_ = nullptr;
};

}  // namespace capmeter
