// Libraries on Linux: dlopen, dlsym, dlclose; the modules are ELF shared objects.
#include <dlfcn.h>

#include "softplc/plc/library.h"
#include "softplc/plc/module_image.h"

namespace softplc {

ModuleFormat native_module_format() { return ModuleFormat::Elf; }

// The module finds its runtime libraries through its RUNPATH ($ORIGIN), which names the copy's
// folder; the host has loaded them already, and the loader takes a library it has loaded under
// the needed name before it searches any folder.
Result<void*> SharedLibrary::load(const std::filesystem::path& file, const std::filesystem::path&, const std::string&) {
  dlerror();
  void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle != nullptr) return handle;
  const char* reason = dlerror();
  return runtime_error(reason != nullptr ? reason : "unknown reason");
}

void SharedLibrary::close() noexcept {
  if (handle_ == nullptr) return;
  dlclose(handle_);
  handle_ = nullptr;
}

void* SharedLibrary::symbol(const std::string& name) const {
  if (handle_ == nullptr) return nullptr;
  return dlsym(handle_, name.c_str());
}

}  // namespace softplc
