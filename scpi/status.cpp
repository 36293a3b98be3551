#include "scpi/status.h"

#include <array>
#include <utility>

namespace capmeter::scpi {

namespace {

struct Standard {
  int code;
  std::string_view text;
};

constexpr std::array kStandardErrors{
    Standard{0, "No error"},
    Standard{-102, "Syntax error"},
    Standard{-104, "Data type error"},
    Standard{-108, "Parameter not allowed"},
    Standard{-109, "Missing parameter"},
    Standard{-113, "Undefined header"},
    Standard{-131, "Invalid suffix"},
    Standard{-138, "Suffix not allowed"},
    Standard{-203, "Command protected"},
    Standard{-221, "Settings conflict"},
    Standard{-222, "Data out of range"},
    Standard{-224, "Illegal parameter value"},
    Standard{-230, "Data corrupt or stale"},
    Standard{-240, "Hardware error"},
    Standard{-241, "Hardware missing"},
    Standard{-330, "Self-test failed"},
    Standard{-350, "Queue overflow"},
    Standard{-363, "Input buffer overrun"},
    Standard{-410, "Query interrupted"},
    Standard{-420, "Query unterminated"},
};

// The event bit of an error's class: command, execution, device-specific or
// query error.
std::uint8_t EventBit(int code) {
  if (code <= -100 && code > -200) return Status::kCommandError;
  if (code <= -200 && code > -300) return Status::kExecutionError;
  if (code <= -300 && code > -400) return Status::kDeviceError;
  if (code <= -400 && code > -500) return Status::kQueryError;
  return 0;
}

// A detail fit for a quoted string: printable ASCII, quotes doubled, short.
std::string Quotable(std::string_view detail) {
  constexpr std::size_t kLongest = 80;
  std::string text;
  for (const char c : detail.substr(0, kLongest)) {
    const bool printable = c >= 0x20 && c < 0x7F;
    text += printable ? c : '?';
    if (c == '"') text += '"';
  }
  return text;
}

}  // namespace

std::string_view ErrorText(int code) {
  for (const Standard& standard : kStandardErrors) {
    if (standard.code == code) return standard.text;
  }
  return "Error";
}

void Status::Push(int code, std::string detail) {
  eventStatus_ |= EventBit(code);
  if (queue_.size() >= kQueueCapacity) {
    queue_.back() = {-350, {}};
    return;
  }
  queue_.push_back({code, std::move(detail)});
}

std::string Status::PopText() {
  Error error;
  if (!queue_.empty()) {
    error = std::move(queue_.front());
    queue_.pop_front();
  }
  std::string text = std::to_string(error.code) + ",\"" + std::string(ErrorText(error.code));
  if (!error.detail.empty()) text.append(";").append(Quotable(error.detail));
  return text + "\"";
}

int Status::ReadEventStatus() {
  return std::exchange(eventStatus_, 0);
}

int Status::StatusByte(bool messageAvailable) const {
  int byte = 0;
  if (!queue_.empty()) byte |= kErrorAvailable;
  if ((questionableEvents_ & questionableEnable) != 0) byte |= kQuestionable;
  if (messageAvailable) byte |= kMessageAvailable;
  if ((eventStatus_ & eventEnable) != 0) byte |= kEventSummary;
  if ((operationEvents_ & operationEnable) != 0) byte |= kOperation;
  if ((byte & serviceRequestEnable & ~kServiceRequest) != 0) byte |= kServiceRequest;
  return byte;
}

int Status::ReadOperationEvents() {
  return std::exchange(operationEvents_, 0);
}

int Status::ReadQuestionableEvents() {
  return std::exchange(questionableEvents_, 0);
}

void Status::Preset() {
  operationEnable = 0;
  questionableEnable = 0;
}

void Status::Clear() {
  queue_.clear();
  eventStatus_ = 0;
  operationEvents_ = 0;
  questionableEvents_ = 0;
}

}  // namespace capmeter::scpi
