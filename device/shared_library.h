#pragma once

#include <string>

namespace capmeter {

// A shared library opened by name through the platform's loader (dlopen or
// LoadLibrary), closed again when this object goes.
class SharedLibrary {
 public:
  // Opens `name`; when that fails, IsOpen() is false and Error() gives the
  // loader's reason. A name with a folder in it is opened as that path. A
  // bare name is looked for where the platform's loader looks for it; on
  // Windows that is the program's own folder and the system folder only,
  // never the current directory or PATH.
  explicit SharedLibrary(const std::string& name);
  ~SharedLibrary();
  SharedLibrary(const SharedLibrary&) = delete;
  SharedLibrary& operator=(const SharedLibrary&) = delete;

  bool IsOpen() const { return module_ != nullptr; }
  const std::string& Error() const { return error_; }

  // The file the loader found, through one of its exported symbols; empty
  // when the platform does not tell.
  std::string PathOf(const char* symbol) const;

  // The function exported as `symbol`, or null.
  template <typename Function>
  Function Find(const char* symbol) const {
    // Through void(*)(): the one function pointer type every other one may be
    // cast from and to without a warning about mismatched types.
    return reinterpret_cast<Function>(FindFunction(symbol));
  }

 private:
  using AnyFunction = void (*)();
  AnyFunction FindFunction(const char* symbol) const;

  void* module_ = nullptr;  // the loader's handle (an HMODULE on Windows)
  std::string error_;
};

}  // namespace capmeter
