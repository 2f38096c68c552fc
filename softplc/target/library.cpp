#include "softplc/target/library.h"

#include <system_error>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace softplc {

namespace {

std::string display(const std::filesystem::path& path) { return path.string(); }

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

Result<SharedLibrary> SharedLibrary::open(const std::filesystem::path& path) {
  std::error_code ec;
  const auto status = std::filesystem::status(path, ec);
  if (!std::filesystem::exists(status)) return runtime_error("module file not found: " + display(path));
  if (std::filesystem::is_directory(status))
    return runtime_error("module path is a directory, not a library: " + display(path));
  // An absolute path keeps the loaders from searching their own lists of folders.
  const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
  const std::filesystem::path& used = ec ? path : absolute;
#if defined(_WIN32)
  // Let a dependency that sits beside the module be found there.
  HMODULE handle = LoadLibraryExW(used.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (handle == nullptr) {
    return runtime_error("cannot load module " + display(path) + ": " + windows_message(GetLastError(), display(path)));
  }
  return SharedLibrary(reinterpret_cast<void*>(handle), used);
#else
  dlerror();
  void* handle = dlopen(used.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* reason = dlerror();
    return runtime_error("cannot load module " + display(path) + ": " +
                         (reason != nullptr ? reason : "unknown reason"));
  }
  return SharedLibrary(handle, used);
#endif
}

SharedLibrary::SharedLibrary(SharedLibrary&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)), path_(std::move(other.path_)) {}

SharedLibrary& SharedLibrary::operator=(SharedLibrary&& other) noexcept {
  if (this != &other) {
    close();
    handle_ = std::exchange(other.handle_, nullptr);
    path_ = std::move(other.path_);
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

std::string SharedLibrary::module_name() const {
#if defined(_WIN32)
  // The loaded image is mapped as its sections are laid out, so an RVA is an offset from the base.
  const auto* base = reinterpret_cast<const unsigned char*>(handle_);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  if (base != nullptr && dos->e_magic == IMAGE_DOS_SIGNATURE) {
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
    if (nt->Signature == IMAGE_NT_SIGNATURE &&
        nt->OptionalHeader.NumberOfRvaAndSizes > IMAGE_DIRECTORY_ENTRY_EXPORT) {
      const IMAGE_DATA_DIRECTORY& entry = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
      if (entry.VirtualAddress != 0 && entry.Size >= sizeof(IMAGE_EXPORT_DIRECTORY)) {
        const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + entry.VirtualAddress);
        if (exports->Name != 0) {
          std::string name(reinterpret_cast<const char*>(base + exports->Name));
          // The export directory names the file ("CCodePublic.dll"); the module is its stem.
          const auto dot = name.rfind('.');
          if (dot != std::string::npos) name.erase(dot);
          if (!name.empty()) return name;
        }
      }
    }
  }
#endif
  return path_.stem().string();
}

}  // namespace softplc
