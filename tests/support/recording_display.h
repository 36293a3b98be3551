#pragma once

#include <map>
#include <string>

#include "tests/support/event_log.h"
#include "ui/display.h"

namespace capmeter::testing {

// Keeps every display call in order, as "SetCaption lblTime Processing!",
// "RepaintNow lblTime", "ReadText txtM", "ShowMessage Device opened.".
class RecordingDisplay final : public Display {
 public:
  explicit RecordingDisplay(EventLog& log) : log_(log) {}

  void SetCaption(LabelSlot slot, std::string_view text) override {
    captions[slot] = std::string(text);
    log_.push_back("SetCaption " + std::string(SlotName(slot)) + " " + std::string(text));
  }
  void RepaintNow(LabelSlot slot) override {
    painted[slot] = captions[slot];
    log_.push_back("RepaintNow " + std::string(SlotName(slot)));
  }
  std::string ReadText(TextSlot slot) override {
    log_.push_back("ReadText " + std::string(SlotName(slot)));
    return texts[slot];
  }
  void ShowMessage(std::string_view text) override {
    messages.emplace_back(text);
    log_.push_back("ShowMessage " + std::string(text));
  }

  std::map<LabelSlot, std::string> captions;
  std::map<LabelSlot, std::string> painted;  // what the last RepaintNow showed
  std::map<TextSlot, std::string> texts = {{TextSlot::txtM, "0"}, {TextSlot::txtB, "0"}};
  std::vector<std::string> messages;

 private:
  EventLog& log_;
};

}  // namespace capmeter::testing
