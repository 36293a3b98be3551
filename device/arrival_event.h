#pragma once

#include <chrono>
#include <cstdint>

#if !defined(_WIN32)
#include <pthread.h>
#endif

namespace capmeter {

// FT_SetEventNotification's mask bit for samples received (FT_EVENT_RXCHAR).
inline constexpr std::uint32_t kEventReceivedCharacters = 1;

#if !defined(_WIN32)
// The event the vendor's library signals on Linux and macOS, laid out as its
// header lays it out: the library signals the condition with the mutex held.
struct LibraryEventHandle {
  pthread_cond_t condition;
  pthread_mutex_t mutex;
  int value;
};
#endif

// An event for FT_SetEventNotification to signal as samples arrive: the
// struct above, or on Windows an auto-reset event. A signal that comes while
// nobody waits is lost on Linux, so a caller bounds every wait.
class ArrivalEvent {
 public:
  ArrivalEvent();
  ~ArrivalEvent();
  ArrivalEvent(const ArrivalEvent&) = delete;
  ArrivalEvent& operator=(const ArrivalEvent&) = delete;

  // What FT_SetEventNotification is handed.
  void* Argument();
  // Until the library signals, or `most` has passed.
  void Wait(std::chrono::nanoseconds most);

 private:
#if defined(_WIN32)
  void* event_;  // a HANDLE
#else
  LibraryEventHandle event_;
#endif
};

}  // namespace capmeter
