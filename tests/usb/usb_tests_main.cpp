// The emulated chip needs libumockdev-preload in this process; without it
// (run by hand, not by ctest) the tests are reported skipped, not failed.

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <iostream>

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  const char* preload = std::getenv("LD_PRELOAD");
  const bool preloaded =
      preload != nullptr && std::strstr(preload, "libumockdev-preload") != nullptr;
  if (!preloaded && !GTEST_FLAG_GET(list_tests)) {
    std::cout << "skipped: run with LD_PRELOAD=libumockdev-preload.so.0 (umockdev-wrapper)\n";
    return 77;
  }
  return RUN_ALL_TESTS();
}
