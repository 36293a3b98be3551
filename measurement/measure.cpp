#include "measurement/measure.h"

#include <utility>

#include "device/hex_text.h"
#include "measurement/display_texts.h"
#include "measurement/pin_text.h"

namespace capmeter {

namespace {

// Drives the pattern back to back with no delay, so the low pulse on D0 lasts
// one write. Empty, or what went wrong as soon as a write fails or takes less
// than its one byte: the timer may then never have been triggered.
std::string DriveTriggerPattern(FT_HANDLE lngHandle, DriverLibrary& library) {
  for (const std::uint8_t pattern : kTriggerPattern) {
    const std::uint8_t byte[1] = {pattern};
    std::uint32_t written = 0;
    const FT_STATUS status = library.FT_Write(lngHandle, byte, 1, &written);
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
  if (std::string failure = DriveTriggerPattern(lngHandle, library); !failure.empty()) {
    return FailMeasurement(result, MeasureOutcome::ReadError, display, std::move(failure));
  }

  PinBuffer strPins{};
  const Clock::Duration start = clock.Now();
  if (policy != nullptr) {
    clock.Wait(policy->FirstPollDelay());
  }
  for (;;) {
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
      return result;
    }
  }
}

}  // namespace capmeter
