#pragma once

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace capmeter::fuzz {

// Ends the run with the input that broke `what`, for libFuzzer to keep.
inline void Require(bool condition, const char* what, std::string_view text) {
  if (condition) return;
  std::fprintf(stderr, "broken: %s: \"%.*s\"\n", what, static_cast<int>(text.size()), text.data());
  std::abort();
}

}  // namespace capmeter::fuzz
