#include "measurement/measure.h"

#include <algorithm>
#include <utility>

#include "device/hex_text.h"
#include "measurement/display_texts.h"
#include "measurement/pin_text.h"

namespace capmeter {

namespace {

// Drives the pattern back to back with no delay, so the low pulse on D0 lasts
// one write. Empty, or what went wrong as soon as a write fails or takes less
// than its one byte: the timer may then never have been triggered.
// `triggered` receives the host's clock before and after the write whose
// falling D0 starts the charge.
std::string DriveTriggerPattern(FT_HANDLE lngHandle, DriverLibrary& library, Clock& clock,
                                std::pair<Clock::Duration, Clock::Duration>& triggered) {
  constexpr std::size_t kTriggerWrite = 2;  // "4": D0 low
  for (std::size_t i = 0; i < kTriggerPattern.size(); ++i) {
    const std::uint8_t byte[1] = {kTriggerPattern[i]};
    std::uint32_t written = 0;
    if (i == kTriggerWrite) triggered.first = clock.Now();
    const FT_STATUS status = library.FT_Write(lngHandle, byte, 1, &written);
    if (i == kTriggerWrite) triggered.second = clock.Now();
    if (status != kStatusOk) {
      return "FT_Write: " + StatusText(library, status);
    }
    if (written != 1) {
      return "FT_Write: " + std::to_string(written) + " of 1 bytes written";
    }
  }
  return {};
}

float Seconds(Clock::Duration span) {
  return static_cast<float>(ToSeconds(span));
}

}  // namespace

void BeginMeasurement(Display& display) {
  display.SetCaption(LabelSlot::lblCapacitance, "");
  display.SetCaption(LabelSlot::lblTime, display_texts::kProcessing);
  display.RepaintNow(LabelSlot::lblTime);
}

MeasureResult FailMeasurement(MeasureResult result, MeasureOutcome outcome, Display& display,
                              std::string failure) {
  result.outcome = outcome;
  result.failure = std::move(failure);
  display.SetCaption(LabelSlot::lblTime, outcome == MeasureOutcome::TimedOut
                                             ? display_texts::kTimedOut
                                             : display_texts::kReadError);
  return result;
}

MeasureResult Measure(FT_HANDLE lngHandle, DriverLibrary& library, Display& display, Clock& clock,
                      MeasurePolicy* policy) {
  BeginMeasurement(display);

  // Any failed call ends the measurement there and then: a time taken after
  // it would not be a charge time, and an unplugged chip would otherwise be
  // read as the last pin byte it gave.
  MeasureResult result;
  const FT_STATUS bitBang = library.FT_SetBitMode(lngHandle, kDirectionMask, kEnableValue);
  if (bitBang != kStatusOk) {
    return FailMeasurement(result, MeasureOutcome::ReadError, display,
                           "FT_SetBitMode: " + StatusText(library, bitBang));
  }
  std::pair<Clock::Duration, Clock::Duration> triggered;
  if (std::string failure = DriveTriggerPattern(lngHandle, library, clock, triggered);
      !failure.empty()) {
    return FailMeasurement(result, MeasureOutcome::ReadError, display, std::move(failure));
  }

  PinBuffer strPins{};
  const Clock::Duration start = clock.Now();
  if (policy != nullptr) {
    clock.Wait(policy->FirstPollDelay());
  }
  // When the look before this one began: D1 was high at some moment of it.
  Clock::Duration lastHighLook = start;
  for (;;) {
    const Clock::Duration looked = clock.Now();
    const FT_STATUS status =
        library.FT_GetBitMode(lngHandle, reinterpret_cast<std::uint8_t*>(strPins.data()));
    // Taken right after every read, the last one included: a read that comes
    // back late counts against the limit like any other.
    const Clock::Duration elapsed = clock.Now() - start;
    ++result.polls;
    if (policy != nullptr && policy->Abandon()) {
      result.outcome = MeasureOutcome::Abandoned;
      return result;
    }
    if (status != kStatusOk) {
      return FailMeasurement(result, MeasureOutcome::ReadError, display,
                             "FT_GetBitMode: " + StatusText(library, status));
    }
    const auto pinValue = ParsePinText(strPins);
    if (!pinValue) {
      return FailMeasurement(result, MeasureOutcome::ReadError, display,
                             "FT_GetBitMode: pin byte " +
                                 HexText(static_cast<std::uint8_t>(strPins[0])) +
                                 " is no digit (D4 or D5 low?)");
    }
    if (elapsed >= kPollTimeLimit) {
      return FailMeasurement(result, MeasureOutcome::TimedOut, display);
    }
    if (!ChargeGoesOn(*pinValue)) {
      result.outcome = MeasureOutcome::ChargeTime;
      result.seconds = Seconds(elapsed);
      // The charge began within the trigger write and ended between the
      // start of the last look that saw D1 high and the end of this one.
      const double earliest = ToSeconds(lastHighLook - triggered.second);
      const double latest = ToSeconds(start + elapsed - triggered.first);
      result.boundSeconds = std::max(static_cast<double>(result.seconds) - earliest,
                                     latest - static_cast<double>(result.seconds));
      return result;
    }
    lastHighLook = looked;
  }
}

}  // namespace capmeter
