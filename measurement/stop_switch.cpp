#include "measurement/stop_switch.h"

namespace capmeter {

void StopSwitch::Press(int cause) {
  {
    const std::lock_guard lock(mutex_);
    int none = 0;
    cause_.compare_exchange_strong(none, cause);  // the first cause stays
  }
  pressedOrDue_.notify_all();
}

void StopSwitch::Reset() {
  const std::lock_guard lock(mutex_);
  cause_ = 0;
}

void StopSwitch::Rest(Clock::Duration span) {
  std::unique_lock lock(mutex_);
  pressedOrDue_.wait_for(lock, span, [this] { return cause_.load() != 0; });
}

SeriesControl StopSwitch::Control() {
  return {[this] { return Cause(); }, [this](Clock::Duration span) { Rest(span); }};
}

}  // namespace capmeter
