#include "startup/termination_signals.h"

#include <QSocketNotifier>
#include <QtGlobal>
#include <atomic>
#include <cstdio>

#if defined(Q_OS_UNIX)
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#endif

namespace capmeter {

#if defined(Q_OS_UNIX)

namespace {

constexpr std::array<int, 3> kSignals = {SIGINT, SIGTERM, SIGHUP};

// A signal handler can reach nothing but globals: this is the one it needs,
// the socket end it writes to, or -1 while no TerminationSignals exists.
std::atomic<int> signalWriteEnd{-1};
static_assert(std::atomic<int>::is_always_lock_free);

void WriteSignalNumber(int signal) {
  const int savedErrno = errno;
  const int end = signalWriteEnd.load();
  if (end >= 0) {
    const auto number = static_cast<unsigned char>(signal);
    // A full socket already holds signals enough to act on.
    [[maybe_unused]] const ssize_t written = ::write(end, &number, 1);
  }
  errno = savedErrno;
}

bool NonBlockingAndClosedOnExec(int descriptor) {
  const int flags = ::fcntl(descriptor, F_GETFL);
  return flags >= 0 && ::fcntl(descriptor, F_SETFL, flags | O_NONBLOCK) == 0 &&
         ::fcntl(descriptor, F_SETFD, FD_CLOEXEC) == 0;
}

}  // namespace

struct TerminationSignals::Installed {
  int writeEnd = -1;
  int readEnd = -1;
  std::array<struct sigaction, kSignals.size()> earlier{};
  std::array<bool, kSignals.size()> replaced{};
};

TerminationSignals::TerminationSignals(Handler onSignal, QObject* parent)
    : QObject(parent), onSignal_(std::move(onSignal)) {
  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, ends) != 0) {
    std::perror("capmeter: no socket for signals");
    return;
  }
  installed_ = std::make_unique<Installed>();
  installed_->writeEnd = ends[0];
  installed_->readEnd = ends[1];
  if (!NonBlockingAndClosedOnExec(ends[0]) || !NonBlockingAndClosedOnExec(ends[1])) {
    std::perror("capmeter: signal socket");
  }
  int expected = -1;
  if (!signalWriteEnd.compare_exchange_strong(expected, ends[0])) {
    std::fputs("capmeter: signals are already handled elsewhere\n", stderr);
    return;
  }

  notifier_ = new QSocketNotifier(static_cast<qintptr>(ends[1]), QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, [this] { Receive(); });

  struct sigaction action {};
  action.sa_handler = WriteSignalNumber;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (std::size_t i = 0; i < kSignals.size(); ++i) {
    struct sigaction& earlier = installed_->earlier[i];
    if (::sigaction(kSignals[i], nullptr, &earlier) != 0 || earlier.sa_handler == SIG_IGN) {
      continue;
    }
    installed_->replaced[i] = ::sigaction(kSignals[i], &action, nullptr) == 0;
  }
}

TerminationSignals::~TerminationSignals() {
  if (!installed_) {
    return;
  }
  for (std::size_t i = 0; i < kSignals.size(); ++i) {
    if (installed_->replaced[i]) {
      ::sigaction(kSignals[i], &installed_->earlier[i], nullptr);
    }
  }
  int ours = installed_->writeEnd;
  signalWriteEnd.compare_exchange_strong(ours, -1);
  delete notifier_;
  ::close(installed_->writeEnd);
  ::close(installed_->readEnd);
}

void TerminationSignals::Receive() {
  unsigned char number = 0;
  while (::read(installed_->readEnd, &number, 1) == 1) {
    if (onSignal_) {
      onSignal_(number);
    }
  }
}

#else  // no such signals: nothing to install

struct TerminationSignals::Installed {};

TerminationSignals::TerminationSignals(Handler onSignal, QObject* parent)
    : QObject(parent), onSignal_(std::move(onSignal)) {}

TerminationSignals::~TerminationSignals() = default;

void TerminationSignals::Receive() {}

#endif

}  // namespace capmeter
