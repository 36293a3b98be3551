#pragma once

#include <memory>

namespace capmeter::cli {

// Catches SIGINT, SIGTERM and SIGHUP (Ctrl-C, kill, a closed terminal) while
// it lives, so that a stopped command can still reset the chip and close it.
// A signal only sets a flag; the commands look at it after every poll and
// between readings. A read from the terminal that a signal interrupts returns
// rather than going on, so a prompt is left too. A signal the program was
// started with ignored (nohup) stays ignored. SIGPIPE is ignored meanwhile, so
// that a reader going away fails the next write instead of killing the
// program with the device still in bit-bang mode. The previous handlers come
// back when this goes. One at a time.
class InterruptCatcher {
 public:
  InterruptCatcher();
  ~InterruptCatcher();
  InterruptCatcher(const InterruptCatcher&) = delete;
  InterruptCatcher& operator=(const InterruptCatcher&) = delete;

  // The number of the first signal caught, or 0.
  int Signal() const;

 private:
  struct Previous;  // the handlers to put back
  std::unique_ptr<Previous> previous_;
};

}  // namespace capmeter::cli
