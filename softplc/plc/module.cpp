#include "softplc/plc/module.h"

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

std::filesystem::path absolute_or_given(const std::filesystem::path& path) {
  std::error_code ec;
  std::filesystem::path absolute = std::filesystem::absolute(path, ec);
  return ec ? path : absolute;
}

}  // namespace

Module::Module(ModuleCopy copy, SharedLibrary library, ModuleExports exports)
    : copy_(std::move(copy)),
      library_(std::move(library)),
      exports_(exports),
      path_(absolute_or_given(copy_.source())) {}

Result<Module> Module::load(const std::filesystem::path& path) {
  auto copy = ModuleCopy::make(path);
  if (!copy) return copy.error();
  return open(std::move(copy).value());
}

Result<Module> Module::open(ModuleCopy copy) {
  const std::filesystem::path shown = copy.source();
  auto library = SharedLibrary::open(copy.path(), shown, absolute_or_given(shown).parent_path());
  if (!library) return library.error();

  ModuleExports exports;
  std::string missing;
  const int missingCount = resolve(*library, exports, missing);
  if (missingCount == sizeof(ModuleExports) / sizeof(void*)) {
    return runtime_error("not an application module: " + display_path(shown) +
                         " exports none of the module functions (e.g. " + KX_EXPORT_NAME(KX_fr_SimpleMain, 8) + ")");
  }
  if (missingCount != 0) {
    return runtime_error("module " + display_path(shown) + " lacks the export" + (missingCount > 1 ? "s " : " ") +
                         missing);
  }
  return Module(std::move(copy), std::move(library).value(), exports);
}

std::string Module::name() const {
  // A DLL's export directory names its file ("CCodePublic.dll"); the module is its stem.
  const std::string& exported = copy_.image().exportName;
  if (!exported.empty()) {
    const std::string stem = std::filesystem::path(exported).stem().string();
    if (!stem.empty()) return stem;
  }
  return copy_.source().stem().string();
}

Result<OnlineChangeExports> Module::online_change_exports() const {
  OnlineChangeExports exports;
  std::string missing;
  resolve(library_, exports, missing);
  if (!missing.empty())
    return runtime_error("module " + display_path(path()) + " lacks the online-change export(s) " + missing);
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
