// An open dynamic library: dlopen/dlclose on Linux, LoadLibrary/FreeLibrary on Windows. Move-only;
// closing happens in the destructor.
#pragma once

#include <filesystem>
#include <string>

#include "softplc/util/result.h"

namespace softplc {

class SharedLibrary {
 public:
  // Loads the library at `path`. A missing file, a file that is not a library for this platform
  // and a library whose dependencies cannot be found all give an error naming the path.
  static Result<SharedLibrary> open(const std::filesystem::path& path);

  SharedLibrary(SharedLibrary&& other) noexcept;
  SharedLibrary& operator=(SharedLibrary&& other) noexcept;
  SharedLibrary(const SharedLibrary&) = delete;
  SharedLibrary& operator=(const SharedLibrary&) = delete;
  ~SharedLibrary();

  // The address of an exported symbol, or null.
  void* symbol(const std::string& name) const;

  // The library's own name: on Windows the name in its export directory, elsewhere the file
  // name without its extension.
  std::string module_name() const;

  const std::filesystem::path& path() const { return path_; }

 private:
  SharedLibrary(void* handle, std::filesystem::path path) : handle_(handle), path_(std::move(path)) {}
  void close() noexcept;

  void* handle_ = nullptr;
  std::filesystem::path path_;
};

}  // namespace softplc
