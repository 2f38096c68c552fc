#include "softplc/plc/library.h"

#include <system_error>
#include <utility>

#include "softplc/util/files.h"

namespace softplc {

namespace {

// The loader's message names the file it loaded, the private copy: name the module file instead.
std::string shown(std::string message, const std::filesystem::path& file, const std::filesystem::path& shownAs) {
  const std::string from = file.string();
  const std::string to = display_path(shownAs);
  if (from.empty()) return message;
  for (auto at = message.find(from); at != std::string::npos; at = message.find(from, at + to.size()))
    message.replace(at, from.size(), to);
  return message;
}

}  // namespace

Result<SharedLibrary> SharedLibrary::open(const std::filesystem::path& file, const std::filesystem::path& shownAs,
                                          const std::filesystem::path& dependencies) {
  // An absolute path keeps the loaders from searching their own lists of folders.
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(file, ec);
  const std::filesystem::path& used = ec ? file : absolute;
  auto handle = load(used, dependencies, display_path(shownAs));
  if (!handle) {
    return runtime_error("cannot load module " + display_path(shownAs) + ": " +
                         shown(handle.error().message, used, shownAs));
  }
  return SharedLibrary(*handle);
}

SharedLibrary::SharedLibrary(SharedLibrary&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}

SharedLibrary& SharedLibrary::operator=(SharedLibrary&& other) noexcept {
  if (this != &other) {
    close();
    handle_ = std::exchange(other.handle_, nullptr);
  }
  return *this;
}

SharedLibrary::~SharedLibrary() { close(); }

}  // namespace softplc
