#include "device/arrival_event.h"

#include "device/platform_loader.h"

#if !defined(_WIN32)
#include <time.h>
#endif

namespace capmeter {

#if defined(_WIN32)

ArrivalEvent::ArrivalEvent() : event_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

ArrivalEvent::~ArrivalEvent() {
  if (event_ != nullptr) CloseHandle(event_);
}

void* ArrivalEvent::Argument() {
  return event_;
}

void ArrivalEvent::Wait(std::chrono::nanoseconds most) {
  // Whole milliseconds, rounded up: the event may come sooner.
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(most).count();
  if (event_ != nullptr && ms > 0) WaitForSingleObject(event_, static_cast<DWORD>(ms));
}

#else

namespace {
// macOS has no monotonic clock for a condition's wait.
#if defined(__APPLE__)
constexpr clockid_t kWaitClock = CLOCK_REALTIME;
#else
constexpr clockid_t kWaitClock = CLOCK_MONOTONIC;
#endif
}  // namespace

ArrivalEvent::ArrivalEvent() : event_{} {
  pthread_condattr_t attributes;
  pthread_condattr_init(&attributes);
#if !defined(__APPLE__)
  pthread_condattr_setclock(&attributes, kWaitClock);
#endif
  pthread_cond_init(&event_.condition, &attributes);
  pthread_condattr_destroy(&attributes);
  pthread_mutex_init(&event_.mutex, nullptr);
}

ArrivalEvent::~ArrivalEvent() {
  pthread_cond_destroy(&event_.condition);
  pthread_mutex_destroy(&event_.mutex);
}

void* ArrivalEvent::Argument() {
  return &event_;
}

void ArrivalEvent::Wait(std::chrono::nanoseconds most) {
  timespec until{};
  clock_gettime(kWaitClock, &until);
  const long long ns = until.tv_nsec + most.count();
  until.tv_sec += static_cast<time_t>(ns / 1'000'000'000);
  until.tv_nsec = static_cast<long>(ns % 1'000'000'000);
  pthread_mutex_lock(&event_.mutex);
  pthread_cond_timedwait(&event_.condition, &event_.mutex, &until);
  pthread_mutex_unlock(&event_.mutex);
}

#endif

}  // namespace capmeter
