#pragma once

#include <memory>

#include "measurement/stop_switch.h"

namespace capmeter::cli {

// Catches SIGINT, SIGTERM and SIGHUP (Ctrl-C, kill, a closed terminal) while
// it lives, so that a stopped command can still reset the chip and close it.
// A signal sets a flag, which the commands look at after every poll, and
// presses `stop` (from a thread of this object's, as a handler may not), which
// ends a pause between readings at once. A read from the terminal that a signal interrupts returns
// rather than going on, so a prompt is left too. A signal the program was
// started with ignored (nohup) stays ignored. SIGPIPE is ignored meanwhile, so
// that a reader going away fails the next write instead of killing the
// program with the device still in bit-bang mode. The previous handlers come
// back when this goes. One at a time.
class InterruptCatcher {
 public:
  explicit InterruptCatcher(StopSwitch& stop);
  ~InterruptCatcher();
  InterruptCatcher(const InterruptCatcher&) = delete;
  InterruptCatcher& operator=(const InterruptCatcher&) = delete;

  // The number of the first signal caught, or 0.
  int Signal() const;

 private:
  struct Previous;  // the handlers to put back
  struct Relay;     // hands a caught signal on to the stop switch
  std::unique_ptr<Relay> relay_;
  std::unique_ptr<Previous> previous_;
};

}  // namespace capmeter::cli
