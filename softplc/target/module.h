// A loaded application module: the library and the exports the host calls, resolved by name.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "abi/export_table.h"
#include "softplc/target/library.h"

namespace softplc {

// The module's exports, as typed function pointers: the ones every run needs, and the online-change
// exports, resolved only when a module is to replace a running one.
using ModuleExports = KxRunExports;
using OnlineChangeExports = KxOnlineChangeExports;

class Module {
 public:
  // Loads the library and resolves every export in ModuleExports; a library that lacks any of
  // them is refused with the list of the missing names.
  static Result<Module> load(const std::filesystem::path& path);

  const ModuleExports& exports() const { return exports_; }
  std::string name() const { return library_.module_name(); }
  const std::filesystem::path& path() const { return library_.path(); }
  // The module file as it was named (its symbol file lies beside it).
  const std::filesystem::path& source_path() const { return source_; }

  // The online-change exports; a module that lacks any of them is refused with their names.
  Result<OnlineChangeExports> online_change_exports() const;

  // The module's entry points, in index order, without the null slots.
  std::vector<EntryPointDescriptor*> entry_points() const;

 private:
  Module(SharedLibrary library, ModuleExports exports, std::filesystem::path source)
      : library_(std::move(library)), exports_(exports), source_(std::move(source)) {}

  SharedLibrary library_;
  ModuleExports exports_;
  std::filesystem::path source_;
};

}  // namespace softplc
