#include "measurement/show_results.h"

#include <cmath>

#include "measurement/display_texts.h"
#include "measurement/lenient_number.h"
#include "measurement/result_text.h"

namespace capmeter {

void ShowResults(float seconds, Display& display, std::string_view decimalSeparator) {
  display.SetCaption(LabelSlot::lblTime, GeneralText(seconds, decimalSeparator));

  const double m = LenientNumber(display.ReadText(TextSlot::txtM));
  if (m == 0.0) {  // also -0: no calibration entered
    display.SetCaption(LabelSlot::lblCapacitance, display_texts::kNoData);
    display.RepaintNow(LabelSlot::lblCapacitance);
    return;
  }

  const double b = LenientNumber(display.ReadText(TextSlot::txtB));
  const double capacitance = m * static_cast<double>(seconds) + b;
  if (std::isfinite(capacitance)) {
    display.SetCaption(LabelSlot::lblCapacitance, PatternText(capacitance, decimalSeparator));
  } else {
    // Infinite m or b, or an overflowing product, has no pattern form.
    display.SetCaption(LabelSlot::lblCapacitance, display_texts::kOutOfRange);
  }
}

}  // namespace capmeter
