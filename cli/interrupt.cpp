#include "cli/interrupt.h"

#include <cerrno>
#include <csignal>
#include <thread>
#include <vector>

#if !defined(_WIN32)
#include <signal.h>
#include <unistd.h>
#endif

namespace capmeter::cli {

namespace {

// The one piece of program-wide state: a signal handler can reach nothing
// else. It writes a sig_atomic_t and, where there are pipes, the signal's
// number into the relay's pipe; both are safe in a handler.
volatile std::sig_atomic_t caught = 0;
#if !defined(_WIN32)
volatile std::sig_atomic_t relayPipe = -1;
#else
// A console's Ctrl-C handler runs on a thread of its own, where the switch
// may be pressed directly.
StopSwitch* volatile relaySwitch = nullptr;
#endif

extern "C" void Catch(int signal) {
  if (caught == 0) {
    caught = signal;
  }
#if !defined(_WIN32)
  const int savedErrno = errno;
  const unsigned char number = static_cast<unsigned char>(signal);
  if (relayPipe >= 0 && write(relayPipe, &number, 1) < 0) {
    // Nothing to do in a handler; the flag is set all the same.
  }
  errno = savedErrno;
#else
  if (relaySwitch != nullptr) relaySwitch->Press(signal);
#endif
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

#if !defined(_WIN32)
// A pipe the handler writes to and a thread that reads it and presses the
// switch; closing the write end ends the thread.
struct InterruptCatcher::Relay {
  explicit Relay(StopSwitch& stop) {
    int ends[2];
    if (pipe(ends) != 0) {
      return;  // the flag alone then; pauses end at their time
    }
    readEnd = ends[0];
    writeEnd = ends[1];
    relayPipe = writeEnd;
    reader = std::thread([this, &stop] {
      unsigned char number = 0;
      for (;;) {
        const ssize_t got = read(readEnd, &number, 1);
        if (got == 1) {
          stop.Press(number);
        } else if (got == 0 || errno != EINTR) {
          break;
        }
      }
    });
  }
  ~Relay() {
    if (writeEnd < 0) return;
    relayPipe = -1;
    close(writeEnd);
    reader.join();
    close(readEnd);
  }
  Relay(const Relay&) = delete;
  Relay& operator=(const Relay&) = delete;

  int readEnd = -1;
  int writeEnd = -1;
  std::thread reader;
};
#else
struct InterruptCatcher::Relay {
  explicit Relay(StopSwitch& stop) { relaySwitch = &stop; }
  ~Relay() { relaySwitch = nullptr; }
  Relay(const Relay&) = delete;
  Relay& operator=(const Relay&) = delete;
};
#endif

InterruptCatcher::InterruptCatcher(StopSwitch& stop)
    : relay_(std::make_unique<Relay>(stop)), previous_(std::make_unique<Previous>()) {
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
  relay_.reset();  // only once no handler of ours can run
}

int InterruptCatcher::Signal() const {
  return caught;
}

}  // namespace capmeter::cli
