#include "device/shared_library.h"

#include "device/platform_loader.h"

#if defined(_WIN32)
#include <filesystem>
#include <iterator>
#include <system_error>
#endif

namespace capmeter {

#if defined(_WIN32)

namespace {

std::wstring Widen(const std::string& text) {
  if (text.empty()) {
    return {};
  }
  const int length =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

std::string Narrow(const wchar_t* text, int length) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, length, narrow.data(), size, nullptr, nullptr);
  return narrow;
}

// "Windows error 126: <the system's text for it>", in UTF-8 like every other
// text of the program.
std::string LastLoaderError() {
  const DWORD code = GetLastError();
  wchar_t text[512] = {};
  const DWORD length =
      FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                     text, static_cast<DWORD>(std::size(text)), nullptr);
  std::string reason = "Windows error " + std::to_string(code);
  if (length > 0) {
    std::string message = Narrow(text, static_cast<int>(length));
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

HMODULE Load(const std::string& name) {
  if (name.find_first_of("/\\:") == std::string::npos) {
    // A bare name: only the program's own folder and the system folder, never
    // the current directory or PATH, where anyone could leave a file of that
    // name for the program to run.
    return LoadLibraryExW(Widen(name).c_str(), nullptr,
                          LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
  }
  // A path names its file itself; the library's own dependencies are looked
  // for beside it and in the system folder. That search wants a full path.
  std::error_code error;
  std::filesystem::path path = std::filesystem::absolute(Widen(name), error);
  if (error) {
    path = Widen(name);
  }
  path.make_preferred();
  return LoadLibraryExW(path.c_str(), nullptr,
                        LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
}

}  // namespace

SharedLibrary::SharedLibrary(const std::string& name) : module_(Load(name)) {
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

std::string SharedLibrary::PathOf(const char*) const {
  if (module_ == nullptr) {
    return {};
  }
  // The longest path Windows knows, in UTF-8 like the other texts.
  std::wstring path(32768, L'\0');
  const DWORD length = GetModuleFileNameW(static_cast<HMODULE>(module_), path.data(),
                                          static_cast<DWORD>(path.size()));
  return length == 0 ? std::string() : Narrow(path.data(), static_cast<int>(length));
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

std::string SharedLibrary::PathOf(const char* symbol) const {
  void* address = module_ == nullptr ? nullptr : dlsym(module_, symbol);
  Dl_info info{};
  if (address == nullptr || dladdr(address, &info) == 0 || info.dli_fname == nullptr) {
    return {};
  }
  return info.dli_fname;
}

#endif

}  // namespace capmeter
