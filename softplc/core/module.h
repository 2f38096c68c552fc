// A loaded application module: the library and the exports the host calls, resolved by name.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "module/exports.h"
#include "softplc/core/library.h"

namespace softplc {

// The module's exports that the host uses, as typed function pointers.
struct ModuleExports {
  decltype(&KX_fr_SimpleMain) simpleMain = nullptr;
  decltype(&KXocc_queryEPCount) queryEPCount = nullptr;
  decltype(&KXocc_queryEP) queryEP = nullptr;
  decltype(&KXocc_queryTASKCount) queryTASKCount = nullptr;
  decltype(&KXocc_queryTASK) queryTASK = nullptr;
  decltype(&KXocc_queryCFWVersion) queryCFWVersion = nullptr;
  decltype(&KXocc_queryTimeFreq) queryTimeFreq = nullptr;
  decltype(&KXocc_queryCVersion) queryCVersion = nullptr;
  decltype(&KXocc_getData) getData = nullptr;
  decltype(&KXocc_setData) setData = nullptr;
};

// The online-change exports, resolved only when a module is to replace a running one.
struct OnlineChangeExports {
  decltype(&KXocc_isReloadPossible) isReloadPossible = nullptr;
  decltype(&KX_fr_CallReInitFunc) reInit = nullptr;
  decltype(&KXocc_mapDataAddress) mapDataAddress = nullptr;
};

// The exported name of a function: "name@N" (N = bytes of arguments) for 32-bit Windows stdcall,
// the plain name elsewhere.
std::string exported_name(const char* name, unsigned argumentBytes);

class Module {
 public:
  // Loads the library and resolves every export in ModuleExports; a library that lacks any of
  // them is refused with the list of the missing names.
  static Result<Module> load(const std::filesystem::path& path);

  const ModuleExports& exports() const { return exports_; }
  std::string name() const { return library_.module_name(); }
  const std::filesystem::path& path() const { return library_.path(); }

  // The online-change exports; a module that lacks any of them is refused with their names.
  Result<OnlineChangeExports> online_change_exports() const;

  // The module's entry points, in index order, without the null slots.
  std::vector<EntryPointDescriptor*> entry_points() const;

 private:
  Module(SharedLibrary library, ModuleExports exports)
      : library_(std::move(library)), exports_(exports) {}

  SharedLibrary library_;
  ModuleExports exports_;
};

}  // namespace softplc
