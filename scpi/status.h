#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

namespace capmeter::scpi {

// An entry of the error queue: a standard code, and what went wrong in this
// case (may be empty).
struct Error {
  int code = 0;
  std::string detail;
};

// The standard text of an error code ("Undefined header").
std::string_view ErrorText(int code);

// The error queue and the registers of IEEE 488.2 and SCPI-99 that follow it:
// the Standard Event Status Register with its enable mask, the Service
// Request Enable, and the operation and questionable event registers.
class Status {
 public:
  static constexpr std::size_t kQueueCapacity = 10;

  // Standard Event Status Register bits.
  static constexpr std::uint8_t kOperationComplete = 0x01;  // OPC
  static constexpr std::uint8_t kQueryError = 0x04;         // QYE
  static constexpr std::uint8_t kDeviceError = 0x08;        // DDE
  static constexpr std::uint8_t kExecutionError = 0x10;     // EXE
  static constexpr std::uint8_t kCommandError = 0x20;       // CME
  // Status Byte bits.
  static constexpr std::uint8_t kErrorAvailable = 0x04;    // EAV
  static constexpr std::uint8_t kQuestionable = 0x08;      // QUES summary
  static constexpr std::uint8_t kMessageAvailable = 0x10;  // MAV
  static constexpr std::uint8_t kEventSummary = 0x20;      // ESB
  static constexpr std::uint8_t kServiceRequest = 0x40;    // MSS
  static constexpr std::uint8_t kOperation = 0x80;         // OPER summary
  // Event register bits.
  static constexpr int kMeasuring = 1 << 4;    // operation: readings were taken
  static constexpr int kCalibration = 1 << 8;  // questionable: no calibration

  // Queues an error and sets the event bit of its class; the last entry of a
  // full queue becomes -350.
  void Push(int code, std::string detail = {});
  // `-113,"Undefined header;FOO"`, or `0,"No error"`; removes it.
  std::string PopText();
  int ErrorCount() const { return static_cast<int>(queue_.size()); }

  void SetEvent(std::uint8_t bits) { eventStatus_ |= bits; }
  int ReadEventStatus();         // *ESR?: read and clear
  int eventEnable = 0;           // *ESE
  int serviceRequestEnable = 0;  // *SRE
  // *STB?; `messageAvailable` when an answer waits to be sent.
  int StatusByte(bool messageAvailable) const;

  void SetOperation(int bits) { operationEvents_ |= bits; }
  void SetQuestionable(int bits) { questionableEvents_ |= bits; }
  int ReadOperationEvents();     // read and clear
  int ReadQuestionableEvents();  // read and clear
  int operationEnable = 0;       // STATus:OPERation:ENABle
  int questionableEnable = 0;    // STATus:QUEStionable:ENABle
  // STATus:PRESet: the enable masks of the SCPI registers to zero.
  void Preset();
  // *CLS: the queue and every event register empty.
  void Clear();

 private:
  std::deque<Error> queue_;
  std::uint8_t eventStatus_ = 0;
  int operationEvents_ = 0;
  int questionableEvents_ = 0;
};

}  // namespace capmeter::scpi
