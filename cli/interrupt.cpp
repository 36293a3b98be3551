#include "cli/interrupt.h"

#include <csignal>
#include <vector>

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

#if !defined(_WIN32)
using Handler = struct sigaction;

// Installs `handler` for `signal`, unless the signal was inherited as
// ignored; keeps what was there in `previous`.
bool Install(int signal, void (*handler)(int), Handler& previous) {
  sigaction(signal, nullptr, &previous);
  if (previous.sa_handler == SIG_IGN && handler != SIG_IGN) {
    return false;
  }
  Handler action{};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a blocking read returns with EINTR
  sigaction(signal, &action, nullptr);
  return true;
}

void Restore(int signal, const Handler& previous) {
  sigaction(signal, &previous, nullptr);
}

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
#else
using Handler = void (*)(int);

bool Install(int signal, void (*handler)(int), Handler& previous) {
  previous = std::signal(signal, handler);
  if (previous == SIG_IGN && handler != SIG_IGN) {
    std::signal(signal, SIG_IGN);
    return false;
  }
  return true;
}

void Restore(int signal, const Handler& previous) {
  std::signal(signal, previous);
}

constexpr int kStopSignals[] = {SIGINT, SIGTERM};
#endif

}  // namespace

struct InterruptCatcher::Previous {
  struct Installed {
    int signal;
    Handler handler;
  };
  std::vector<Installed> installed;

  void Add(int signal, void (*handler)(int)) {
    Installed entry{signal, {}};
    if (Install(signal, handler, entry.handler)) {
      installed.push_back(entry);
    }
  }
};

InterruptCatcher::InterruptCatcher() : previous_(std::make_unique<Previous>()) {
  caught = 0;
  for (const int signal : kStopSignals) {
    previous_->Add(signal, Catch);
  }
#if !defined(_WIN32)
  previous_->Add(SIGPIPE, SIG_IGN);
#endif
}

InterruptCatcher::~InterruptCatcher() {
  for (const Previous::Installed& entry : previous_->installed) {
    Restore(entry.signal, entry.handler);
  }
}

int InterruptCatcher::Signal() const {
  return caught;
}

}  // namespace capmeter::cli
