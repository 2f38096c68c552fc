#include "softplc/core/module.h"

#include <cstring>

namespace softplc {

std::string exported_name(const char* name, unsigned argumentBytes) {
#if defined(_WIN32)
  return std::string(name) + "@" + std::to_string(argumentBytes);
#else
  (void)argumentBytes;
  return name;
#endif
}

namespace {

// One row per export: its plain name, its argument bytes and where the address goes.
struct ExportSlot {
  const char* name;
  unsigned argumentBytes;
  void** target;
};

template <class F>
void** slot(F& field) {
  return reinterpret_cast<void**>(&field);
}

}  // namespace

Result<Module> Module::load(const std::filesystem::path& path) {
  auto library = SharedLibrary::open(path);
  if (!library) return library.error();

  ModuleExports exports;
  const ExportSlot slots[] = {
      {"KX_fr_SimpleMain", 8, slot(exports.simpleMain)},
      {"KXocc_queryEPCount", 0, slot(exports.queryEPCount)},
      {"KXocc_queryEP", 4, slot(exports.queryEP)},
      {"KXocc_queryTASKCount", 0, slot(exports.queryTASKCount)},
      {"KXocc_queryTASK", 4, slot(exports.queryTASK)},
      {"KXocc_queryCFWVersion", 0, slot(exports.queryCFWVersion)},
      {"KXocc_queryTimeFreq", 0, slot(exports.queryTimeFreq)},
      {"KXocc_queryCVersion", 0, slot(exports.queryCVersion)},
      {"KXocc_getData", 12, slot(exports.getData)},
      {"KXocc_setData", 12, slot(exports.setData)},
  };
  static_assert(sizeof(slots) / sizeof(slots[0]) * sizeof(void*) == sizeof(ModuleExports),
                "every export of ModuleExports has a row in the name table");

  std::string missing;
  std::size_t missingCount = 0;
  for (const ExportSlot& s : slots) {
    const std::string name = exported_name(s.name, s.argumentBytes);
    void* address = library->symbol(name);
    if (address == nullptr) {
      missing += (missing.empty() ? "" : ", ") + name;
      ++missingCount;
    }
    *s.target = address;
  }
  if (missingCount == std::size(slots)) {
    return runtime_error("not an application module: " + path.string() +
                         " exports none of the module functions (e.g. " +
                         exported_name("KX_fr_SimpleMain", 8) + ")");
  }
  if (missingCount != 0) {
    return runtime_error("module " + path.string() + " lacks the export" +
                         (missingCount > 1 ? "s " : " ") + missing);
  }
  return Module(std::move(library).value(), exports);
}

Result<OnlineChangeExports> Module::online_change_exports() const {
  OnlineChangeExports exports;
  const ExportSlot slots[] = {
      {"KXocc_isReloadPossible", 12, slot(exports.isReloadPossible)},
      {"KX_fr_CallReInitFunc", 12, slot(exports.reInit)},
      {"KXocc_mapDataAddress", 8, slot(exports.mapDataAddress)},
  };
  std::string missing;
  for (const ExportSlot& s : slots) {
    const std::string name = exported_name(s.name, s.argumentBytes);
    *s.target = library_.symbol(name);
    if (*s.target == nullptr) missing += (missing.empty() ? "" : ", ") + name;
  }
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
