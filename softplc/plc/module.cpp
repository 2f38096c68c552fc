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

// A DLL's export directory names its file ("CCodePublic.dll"): the module is its stem; otherwise
// the module file's name without its extension.
std::string module_name(const ModuleCopy& copy) {
  const std::string& exported = copy.image().exportName;
  if (!exported.empty()) {
    const std::string stem = std::filesystem::path(exported).stem().string();
    if (!stem.empty()) return stem;
  }
  return copy.source().stem().string();
}

}  // namespace

Module::Module(std::optional<ModuleCopy> copy, std::optional<SharedLibrary> library, ModuleExports exports,
               std::filesystem::path source)
    : copy_(std::move(copy)),
      library_(std::move(library)),
      exports_(exports),
      source_(std::move(source)),
      path_(copy_ ? absolute_or_given(source_) : source_),
      name_(copy_ ? module_name(*copy_) : source_.string()) {}

Module Module::in_process(std::string name, const ModuleExports& exports,
                          std::optional<OnlineChangeExports> onlineChange) {
  Module module(std::nullopt, std::nullopt, exports, std::filesystem::path(std::move(name)));
  module.inProcessChange_ = onlineChange;
  return module;
}

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
  std::filesystem::path source = copy.source();
  return Module(std::move(copy), std::move(library).value(), exports, std::move(source));
}

Result<OnlineChangeExports> Module::online_change_exports() const {
  if (!library_) {
    if (inProcessChange_) return *inProcessChange_;
    return runtime_error("module " + display_path(path()) + " has no online-change exports");
  }
  OnlineChangeExports exports;
  std::string missing;
  resolve(*library_, exports, missing);
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
