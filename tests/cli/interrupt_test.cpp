#include "cli/interrupt.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <thread>

namespace capmeter {
namespace {

// A caught signal must end a long pause between readings at once, not when
// the pause is over.
TEST(InterruptCatcher, ASignalEndsAPauseAtOnce) {
  StopSwitch stop;
  cli::InterruptCatcher interrupts(stop);
  const auto pause = std::chrono::minutes(2);
  const auto began = std::chrono::steady_clock::now();
  std::thread resting([&stop, pause] { stop.Rest(pause); });
  std::raise(SIGTERM);
  resting.join();
  EXPECT_LT(std::chrono::steady_clock::now() - began, pause);
  EXPECT_EQ(interrupts.Signal(), SIGTERM);
  EXPECT_EQ(stop.Cause(), SIGTERM);
}

}  // namespace
}  // namespace capmeter
