// An open dynamic library: dlopen/dlclose on Linux (library_posix.cpp), LoadLibrary/FreeLibrary on
// Windows (library_win32.cpp); CMake builds the one that fits. Move-only; closing happens in the
// destructor.
#pragma once

#include <filesystem>
#include <string>

#include "softplc/util/result.h"

namespace softplc {

class SharedLibrary {
 public:
  // Loads the library file `file` (a module's private copy), whose messages call it `shownAs` (the
  // module file as the user named it). The libraries it imports are found among those the process
  // has loaded, or in `dependencies` (the folder of the module file) on Windows. A library that is
  // not one for this platform or whose dependencies cannot be found gives an error naming
  // `shownAs`.
  static Result<SharedLibrary> open(const std::filesystem::path& file, const std::filesystem::path& shownAs,
                                    const std::filesystem::path& dependencies);

  SharedLibrary(SharedLibrary&& other) noexcept;
  SharedLibrary& operator=(SharedLibrary&& other) noexcept;
  SharedLibrary(const SharedLibrary&) = delete;
  SharedLibrary& operator=(const SharedLibrary&) = delete;
  ~SharedLibrary();

  // The address of an exported symbol, or null.
  void* symbol(const std::string& name) const;

 private:
  explicit SharedLibrary(void* handle) : handle_(handle) {}
  // The platform's part: loads `file` (an absolute path), its imports found as open() says; the
  // error is the loader's reason alone, which may name `file`, and which names `shownName` where
  // the system's text has a place for the file's name.
  static Result<void*> load(const std::filesystem::path& file, const std::filesystem::path& dependencies,
                            const std::string& shownName);
  void close() noexcept;

  void* handle_ = nullptr;
};

}  // namespace softplc
