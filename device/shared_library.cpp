#include "device/shared_library.h"

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace capmeter {

#if defined(_WIN32)

namespace {

std::string LastLoaderError() {
  const DWORD code = GetLastError();
  char text[512] = {};
  const DWORD length =
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                     text, static_cast<DWORD>(sizeof text), nullptr);
  std::string reason = "Windows error " + std::to_string(code);
  if (length > 0) {
    std::string message(text, length);
    // The system's texts end in ".\r\n", which would clash with a bracket
    // around the reason.
    while (!message.empty() &&
           (message.back() == '\n' || message.back() == '\r' || message.back() == '.')) {
      message.pop_back();
    }
    reason += ": " + message;
  }
  return reason;
}

}  // namespace

SharedLibrary::SharedLibrary(const std::string& name) : module_(LoadLibraryA(name.c_str())) {
  if (module_ == nullptr) {
    error_ = LastLoaderError();
  }
}

SharedLibrary::~SharedLibrary() {
  if (module_ != nullptr) {
    FreeLibrary(static_cast<HMODULE>(module_));
  }
}

SharedLibrary::AnyFunction SharedLibrary::FindFunction(const char* symbol) const {
  return module_ == nullptr
             ? nullptr
             : reinterpret_cast<AnyFunction>(GetProcAddress(static_cast<HMODULE>(module_), symbol));
}

#else

// Binds every symbol now and keeps the names private to this handle: a
// missing symbol shows at load, not in the middle of a measurement.
SharedLibrary::SharedLibrary(const std::string& name)
    : module_(dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL)) {
  if (module_ == nullptr) {
    const char* error = dlerror();
    error_ = error != nullptr ? error : "unknown loader error";
  }
}

SharedLibrary::~SharedLibrary() {
  if (module_ != nullptr) {
    dlclose(module_);
  }
}

SharedLibrary::AnyFunction SharedLibrary::FindFunction(const char* symbol) const {
  return module_ == nullptr ? nullptr : reinterpret_cast<AnyFunction>(dlsym(module_, symbol));
}

#endif

}  // namespace capmeter
