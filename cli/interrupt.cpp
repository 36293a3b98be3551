#include "cli/interrupt.h"

#include <csignal>

#if !defined(_WIN32)
#include <signal.h>
#endif

namespace capmeter::cli {

namespace {

// The one piece of program-wide state: a signal handler can reach nothing
// else, and a sig_atomic_t is all it may safely write.
volatile std::sig_atomic_t caught = 0;

extern "C" void Catch(int signal) {
  if (caught == 0) {
    caught = signal;
  }
}

constexpr int kSignals[] = {SIGINT, SIGTERM};

}  // namespace

struct InterruptCatcher::Previous {
#if !defined(_WIN32)
  struct sigaction handlers[2];
#else
  void (*handlers[2])(int);
#endif
};

InterruptCatcher::InterruptCatcher() : previous_(std::make_unique<Previous>()) {
  caught = 0;
  for (int i = 0; i < 2; ++i) {
#if !defined(_WIN32)
    struct sigaction action {};
    action.sa_handler = Catch;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a blocking read returns with EINTR
    sigaction(kSignals[i], &action, &previous_->handlers[i]);
#else
    previous_->handlers[i] = std::signal(kSignals[i], Catch);
#endif
  }
}

InterruptCatcher::~InterruptCatcher() {
  for (int i = 0; i < 2; ++i) {
#if !defined(_WIN32)
    sigaction(kSignals[i], &previous_->handlers[i], nullptr);
#else
    std::signal(kSignals[i], previous_->handlers[i]);
#endif
  }
}

int InterruptCatcher::Signal() const {
  return caught;
}

}  // namespace capmeter::cli
