#pragma once

#include <string>
#include <string_view>

// The four display and message operations through which the measurement and
// device code reach the window. Qt-free on purpose: the core is tested against
// a recording implementation, and the Qt window is just another implementation.

namespace capmeter {

// Label slots the core writes.
enum class LabelSlot { lblTime, lblCapacitance };

// Text-box slots the core reads.
enum class TextSlot { txtM, txtB };

class Display {
 public:
  virtual ~Display() = default;

  // Replaces the label's text; it becomes visible with the next repaint.
  virtual void SetCaption(LabelSlot slot, std::string_view text) = 0;
  // Paints the label's current text at once, although the caller keeps the
  // user-interface thread busy afterwards.
  virtual void RepaintNow(LabelSlot slot) = 0;
  // The text box's text exactly as the user left it (UTF-8).
  virtual std::string ReadText(TextSlot slot) = 0;
  // A modal box with the text and one OK button; returns once acknowledged.
  virtual void ShowMessage(std::string_view text) = 0;
};

// A display that shows nothing and reads empty boxes: for programs without a
// window (the command-line meter, the benches), where the measurement's
// captions go nowhere.
class NullDisplay final : public Display {
 public:
  void SetCaption(LabelSlot, std::string_view) override {}
  void RepaintNow(LabelSlot) override {}
  std::string ReadText(TextSlot) override { return {}; }
  void ShowMessage(std::string_view) override {}
};

constexpr std::string_view SlotName(LabelSlot slot) {
  return slot == LabelSlot::lblTime ? "lblTime" : "lblCapacitance";
}

constexpr std::string_view SlotName(TextSlot slot) {
  return slot == TextSlot::txtM ? "txtM" : "txtB";
}

}  // namespace capmeter
