#pragma once

#include <string>

#include "device/platform_loader.h"

#if defined(_WIN32)
#include <filesystem>
#endif

namespace capmeter::testing {

// Whether the library at `path` is loaded in this process now, asked of the
// platform's loader without loading it.
inline bool IsLoaded(const std::string& path) {
#if defined(_WIN32)
  const std::filesystem::path full = std::filesystem::absolute(path).make_preferred();
  HMODULE module = nullptr;
  return GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT, full.c_str(), &module) !=
         0;
#else
  void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (module != nullptr) {
    dlclose(module);
  }
  return module != nullptr;
#endif
}

}  // namespace capmeter::testing
