#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <string>

#include "device/driver_library.h"
#include "measurement/clock.h"
#include "ui/display.h"

namespace capmeter {

// D1 is the only input; every other pin drives.
inline constexpr std::uint8_t kDirectionMask = 0xFD;
// Passed with the mask to switch bit-bang mode on.
inline constexpr std::uint8_t kEnableValue = 0xFF;
// The digits "1", "5", "4", "5" as character codes: D2 goes high at the
// second write, D0 pulses low during the third, D4 and D5 stay high.
inline constexpr std::array<std::uint8_t, 4> kTriggerPattern = {0x31, 0x35, 0x34, 0x35};

// The poll loop is bounded so an input stuck high cannot freeze the window
// forever. It counts from the start reading and is checked after every read.
inline constexpr std::chrono::seconds kPollTimeLimit{10};

enum class MeasureOutcome {
  ChargeTime,  // D1 went low in time: the elapsed time is the charge time
  ReadError,   // a call failed, a write fell short, or a read gave no digit
  TimedOut,    // kPollTimeLimit had passed by the end of a read
  Abandoned,   // the caller's policy called the measurement off
  // The charge had ended before it could be told from the trigger: a
  // streamed one within the trigger pulse, a polled one by the first look
  // (a series makes it so; the window's Measure reports that look's time).
  BelowRange,
};

struct MeasureResult {
  MeasureOutcome outcome = MeasureOutcome::ReadError;
  float seconds = 0.0F;  // the charge time; only meaningful with ChargeTime
  // The most the true charge time may differ from `seconds`, as this
  // measurement timed it: polled, from the trigger write's round trip and
  // the two looks around D1's fall; streamed, from the sample period and the
  // rate's error.
  double boundSeconds = 0.0;
  std::uint64_t polls = 0;  // passes of the poll loop
  // What went wrong, for a read error: the call and its status in the
  // driver's words ("FT_GetBitMode: status 1004 (device gone)"), a short
  // write, or a pin byte that is no digit.
  std::string failure;

  bool HasTime() const { return outcome == MeasureOutcome::ChargeTime; }
};

// What a caller may add to a measurement. The defaults do nothing, which is
// what the window uses: its measurement runs exactly as without a policy.
class MeasurePolicy {
 public:
  virtual ~MeasurePolicy() = default;

  // How long to wait between the start reading and the first poll.
  virtual Clock::Duration FirstPollDelay() { return Clock::Duration::zero(); }
  // Asked after every poll; true ends the measurement as Abandoned.
  virtual bool Abandon() { return false; }
};

// The start of every measurement: the capacitance display emptied and
// "Processing!" shown at once.
void BeginMeasurement(Display& display);
// Ends `result` with `outcome`, showing "Read Error!" or "Timed Out!".
MeasureResult FailMeasurement(MeasureResult result, MeasureOutcome outcome, Display& display,
                              std::string failure = {});

// One measurement: set bit-bang mode, drive the trigger pattern, then time how
// long D1 stays high. Ends with "Read Error!" or "Timed Out!" in lblTime when
// no time can be had, making no further driver call after a failed one;
// otherwise leaves the displays for ShowResults. An abandoned measurement
// leaves lblTime at "Processing!".
MeasureResult Measure(FT_HANDLE lngHandle, DriverLibrary& library, Display& display, Clock& clock,
                      MeasurePolicy* policy = nullptr);

}  // namespace capmeter
