// A loaded application module: the library and the exports the host calls, resolved by name. A
// module can also be made of functions of this process (a test's fake module): then nothing is
// copied or loaded, and its exports are the table it was given.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
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
  // A module whose exports are functions of this process, called `name` (its name and its path).
  // Without `onlineChange` an online change to it is refused, as to a library that lacks them.
  static Module in_process(std::string name, const ModuleExports& exports,
                           std::optional<OnlineChangeExports> onlineChange = std::nullopt);

  const ModuleExports& exports() const { return exports_; }
  // The module's own name: on Windows the name in its export directory, elsewhere the module
  // file's name without its extension.
  const std::string& name() const { return name_; }
  // The module file, as an absolute path when it can be made one.
  const std::filesystem::path& path() const { return path_; }
  // The module file as it was named (its symbol file lies beside it).
  const std::filesystem::path& source_path() const { return source_; }
  // The private copy that is loaded; null for a module of this process.
  const ModuleCopy* copy() const { return copy_ ? &*copy_ : nullptr; }

  // The online-change exports; a module that lacks any of them is refused with their names.
  Result<OnlineChangeExports> online_change_exports() const;

  // The module's entry points, in index order, without the null slots.
  std::vector<EntryPointDescriptor*> entry_points() const;

 private:
  Module(std::optional<ModuleCopy> copy, std::optional<SharedLibrary> library, ModuleExports exports,
         std::filesystem::path source);

  // Declared first, so that the library is unloaded before its copy is removed.
  std::optional<ModuleCopy> copy_;
  std::optional<SharedLibrary> library_;
  ModuleExports exports_;
  std::optional<OnlineChangeExports> inProcessChange_;
  std::filesystem::path source_;
  std::filesystem::path path_;
  std::string name_;
};

}  // namespace softplc
