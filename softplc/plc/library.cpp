#include "softplc/plc/library.h"

#include <utility>

#include "softplc/plc/module_copy.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

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

#if defined(_WIN32)
std::string windows_message(DWORD code, const std::string& file) {
  char* text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message = length != 0 && text != nullptr ? std::string(text, length) : std::string();
  if (text != nullptr) LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' ' ||
                              message.back() == '.'))
    message.pop_back();
  if (message.empty()) message = "error " + std::to_string(code);
  // Some system messages name the file as an insert ("%1 is not a valid Win32 application").
  for (auto at = message.find("%1"); at != std::string::npos; at = message.find("%1", at + file.size()))
    message.replace(at, 2, file);
  if (code == ERROR_BAD_EXE_FORMAT) message += " (not a 32-bit Windows library?)";
  return message;
}
#endif

}  // namespace

Result<SharedLibrary> SharedLibrary::open(const std::filesystem::path& file, const std::filesystem::path& shownAs,
                                          const std::filesystem::path& dependencies) {
  // An absolute path keeps the loaders from searching their own lists of folders.
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(file, ec);
  const std::filesystem::path& used = ec ? file : absolute;
#if defined(_WIN32)
  // The module imports the runtime libraries, which the host has loaded already and which the
  // loader finds among the loaded modules by name. Should it import another library, that is
  // looked for beside the module file (the copy's folder holds nothing else), then where a program
  // finds its libraries.
  const std::filesystem::path folder = std::filesystem::absolute(dependencies, ec);
  DLL_DIRECTORY_COOKIE cookie = ec ? nullptr : AddDllDirectory(folder.c_str());
  const DWORD flags = cookie != nullptr ? LOAD_LIBRARY_SEARCH_DEFAULT_DIRS | LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR : 0;
  HMODULE handle = LoadLibraryExW(used.c_str(), nullptr, flags);
  const DWORD error = GetLastError();
  if (cookie != nullptr) RemoveDllDirectory(cookie);
  if (handle == nullptr) {
    return runtime_error("cannot load module " + display_path(shownAs) + ": " +
                         shown(windows_message(error, display_path(shownAs)), used, shownAs));
  }
  return SharedLibrary(reinterpret_cast<void*>(handle));
#else
  // The module finds its runtime libraries through its RUNPATH ($ORIGIN), which names the copy's
  // folder; the host has loaded them already, and the loader takes a library it has loaded under
  // the needed name before it searches any folder.
  (void)dependencies;
  dlerror();
  void* handle = dlopen(used.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* reason = dlerror();
    return runtime_error("cannot load module " + display_path(shownAs) + ": " +
                         shown(reason != nullptr ? reason : "unknown reason", used, shownAs));
  }
  return SharedLibrary(handle);
#endif
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

void SharedLibrary::close() noexcept {
  if (handle_ == nullptr) return;
#if defined(_WIN32)
  FreeLibrary(reinterpret_cast<HMODULE>(handle_));
#else
  dlclose(handle_);
#endif
  handle_ = nullptr;
}

void* SharedLibrary::symbol(const std::string& name) const {
  if (handle_ == nullptr) return nullptr;
#if defined(_WIN32)
  return reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(handle_), name.c_str()));
#else
  return dlsym(handle_, name.c_str());
#endif
}

}  // namespace softplc
