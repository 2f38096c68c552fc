// Libraries on Windows: LoadLibraryEx, GetProcAddress, FreeLibrary; the modules are PE DLLs.
#include <windows.h>

#include <system_error>

#include "softplc/plc/library.h"
#include "softplc/plc/module_image.h"

namespace softplc {

namespace {

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

}  // namespace

ModuleFormat native_module_format() { return ModuleFormat::Pe; }

// The module imports the runtime libraries, which the host has loaded already and which the
// loader finds among the loaded modules by name. Should it import another library, that is
// looked for beside the module file (the copy's folder holds nothing else), then where a program
// finds its libraries.
Result<void*> SharedLibrary::load(const std::filesystem::path& file, const std::filesystem::path& dependencies,
                                  const std::string& shownName) {
  std::error_code ec;
  const std::filesystem::path folder = std::filesystem::absolute(dependencies, ec);
  DLL_DIRECTORY_COOKIE cookie = ec ? nullptr : AddDllDirectory(folder.c_str());
  const DWORD flags = cookie != nullptr ? LOAD_LIBRARY_SEARCH_DEFAULT_DIRS | LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR : 0;
  HMODULE handle = LoadLibraryExW(file.c_str(), nullptr, flags);
  const DWORD error = GetLastError();
  if (cookie != nullptr) RemoveDllDirectory(cookie);
  if (handle == nullptr) return runtime_error(windows_message(error, shownName));
  return reinterpret_cast<void*>(handle);
}

void SharedLibrary::close() noexcept {
  if (handle_ == nullptr) return;
  FreeLibrary(reinterpret_cast<HMODULE>(handle_));
  handle_ = nullptr;
}

void* SharedLibrary::symbol(const std::string& name) const {
  if (handle_ == nullptr) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(handle_), name.c_str()));
}

}  // namespace softplc
