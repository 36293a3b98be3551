#include "measurement/measure.h"

#include "measurement/display_texts.h"
#include "measurement/pin_text.h"

namespace capmeter {

namespace {

void DriveTriggerPattern(FT_HANDLE lngHandle, DriverLibrary& library) {
  // Back to back with no delay: the low pulse on D0 lasts one write.
  for (const std::uint8_t pattern : kTriggerPattern) {
    const std::uint8_t byte[1] = {pattern};
    std::uint32_t written = 0;
    library.FT_Write(lngHandle, byte, 1, &written);
  }
}

float Seconds(Clock::Duration span) {
  return static_cast<float>(std::chrono::duration<double>(span).count());
}

}  // namespace

MeasureResult Measure(FT_HANDLE lngHandle, DriverLibrary& library, Display& display, Clock& clock) {
  display.SetCaption(LabelSlot::lblCapacitance, "");
  display.SetCaption(LabelSlot::lblTime, display_texts::kProcessing);
  display.RepaintNow(LabelSlot::lblTime);

  // Statuses during a measurement are not examined: a failed read shows up
  // in the pin text instead.
  library.FT_SetBitMode(lngHandle, kDirectionMask, kEnableValue);
  DriveTriggerPattern(lngHandle, library);

  PinBuffer strPins{};
  MeasureResult result;
  const Clock::Duration start = clock.Now();
  for (;;) {
    library.FT_GetBitMode(lngHandle, reinterpret_cast<std::uint8_t*>(strPins.data()));
    ++result.polls;
    const auto pinValue = ParsePinText(strPins);
    if (!pinValue) {
      result.outcome = MeasureOutcome::ReadError;
      display.SetCaption(LabelSlot::lblTime, display_texts::kReadError);
      return result;
    }
    if (!ChargeGoesOn(*pinValue)) {
      break;
    }
    if (clock.Now() - start >= kPollTimeLimit) {
      result.outcome = MeasureOutcome::TimedOut;
      display.SetCaption(LabelSlot::lblTime, display_texts::kTimedOut);
      return result;
    }
  }
  const Clock::Duration end = clock.Now();

  result.outcome = MeasureOutcome::ChargeTime;
  result.seconds = Seconds(end - start);
  return result;
}

}  // namespace capmeter
