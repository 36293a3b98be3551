#pragma once

#include <QObject>
#include <functional>
#include <memory>

class QSocketNotifier;

namespace capmeter {

// Turns SIGINT, SIGTERM and SIGHUP (Ctrl-C, kill, a closed terminal or a
// logout) into a call on the window's thread. The handler itself only writes
// the signal's number into a socket; the event loop reads it there, also
// while a modal box runs its own loop, and calls `onSignal`. A signal that
// was ignored when the program started (as under nohup) stays ignored.
// The earlier handling of the signals comes back when this object goes.
// Only one may exist at a time. Does nothing where these signals do not exist.
class TerminationSignals final : public QObject {
 public:
  using Handler = std::function<void(int signal)>;

  explicit TerminationSignals(Handler onSignal, QObject* parent = nullptr);
  ~TerminationSignals() override;
  TerminationSignals(const TerminationSignals&) = delete;
  TerminationSignals& operator=(const TerminationSignals&) = delete;

 private:
  struct Installed;  // the socket pair and the earlier handlers

  void Receive();

  Handler onSignal_;
  std::unique_ptr<Installed> installed_;
  QSocketNotifier* notifier_ = nullptr;
};

}  // namespace capmeter
