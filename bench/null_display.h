#pragma once

#include <string>
#include <string_view>

#include "ui/display.h"

namespace capmeter::bench {

// A display that shows nothing: the benches time the measurement, not a window.
class NullDisplay final : public Display {
 public:
  void SetCaption(LabelSlot, std::string_view) override {}
  void RepaintNow(LabelSlot) override {}
  std::string ReadText(TextSlot) override { return {}; }
  void ShowMessage(std::string_view) override {}
};

}  // namespace capmeter::bench
