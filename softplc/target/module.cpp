#include "softplc/target/module.h"

#include <cstring>

namespace softplc {

namespace {

// The names of the exports that `resolve` did not find, for a message.
template <class Exports>
int resolve(const SharedLibrary& library, Exports& exports, std::string& missing) {
  return kx_resolve_exports(
      exports, [&](const char* name) { return library.symbol(name); },
      [&](const char* name) { missing += (missing.empty() ? "" : ", ") + std::string(name); });
}

}  // namespace

Result<Module> Module::load(const std::filesystem::path& path) {
  auto library = SharedLibrary::open(path);
  if (!library) return library.error();

  ModuleExports exports;
  std::string missing;
  const int missingCount = resolve(*library, exports, missing);
  if (missingCount == sizeof(ModuleExports) / sizeof(void*)) {
    return runtime_error("not an application module: " + path.string() +
                         " exports none of the module functions (e.g. " + KX_EXPORT_NAME(KX_fr_SimpleMain, 8) + ")");
  }
  if (missingCount != 0) {
    return runtime_error("module " + path.string() + " lacks the export" + (missingCount > 1 ? "s " : " ") + missing);
  }
  return Module(std::move(library).value(), exports, path);
}

Result<OnlineChangeExports> Module::online_change_exports() const {
  OnlineChangeExports exports;
  std::string missing;
  resolve(library_, exports, missing);
  if (!missing.empty()) return runtime_error("module " + path().string() + " lacks the online-change export(s) " + missing);
  return exports;
}

std::vector<EntryPointDescriptor*> Module::entry_points() const {
  std::vector<EntryPointDescriptor*> result;
  const uint32_t count = exports_.queryEPCount();
  for (uint32_t index = 0; index < count; ++index) {
    if (EntryPointDescriptor* descriptor = exports_.queryEP(index)) result.push_back(descriptor);
  }
  return result;
}

}  // namespace softplc
