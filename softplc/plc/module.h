// A loaded application module: the library and the exports the host calls, resolved by name.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "abi/export_table.h"
#include "softplc/plc/library.h"
#include "softplc/plc/module_copy.h"

namespace softplc {

// The module's exports, as typed function pointers: the ones every run needs, and the online-change
// exports, resolved only when a module is to replace a running one.
using ModuleExports = KxRunExports;
using OnlineChangeExports = KxOnlineChangeExports;

class Module {
 public:
  // Checks the module file, copies it (module_copy.h) and loads the copy: load(path) is
  // open(ModuleCopy::make(path)).
  static Result<Module> load(const std::filesystem::path& path);
  // Loads a copy and resolves every export in ModuleExports; a library that lacks any of them is
  // refused with the list of the missing names.
  static Result<Module> open(ModuleCopy copy);

  const ModuleExports& exports() const { return exports_; }
  // The module's own name: on Windows the name in its export directory, elsewhere the module
  // file's name without its extension.
  std::string name() const;
  // The module file, as an absolute path when it can be made one.
  const std::filesystem::path& path() const { return path_; }
  // The module file as it was named (its symbol file lies beside it).
  const std::filesystem::path& source_path() const { return copy_.source(); }
  // The private copy that is loaded.
  const ModuleCopy& copy() const { return copy_; }

  // The online-change exports; a module that lacks any of them is refused with their names.
  Result<OnlineChangeExports> online_change_exports() const;

  // The module's entry points, in index order, without the null slots.
  std::vector<EntryPointDescriptor*> entry_points() const;

 private:
  Module(ModuleCopy copy, SharedLibrary library, ModuleExports exports);

  // Declared first, so that the library is unloaded before its copy is removed.
  ModuleCopy copy_;
  SharedLibrary library_;
  ModuleExports exports_;
  std::filesystem::path path_;
};

}  // namespace softplc
