// Online change: a new version of the running module takes over between two cycles, with the
// values of all variables. The new module's exports decide whether it can replace the running
// one, take the values over and map the variable references the host keeps.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "softplc/plc/plc.h"

namespace softplc {

// A variable reference that the host keeps, and the name by which messages call it.
struct HeldReference {
  DataRef* reference = nullptr;
  std::string_view name;
};

// The part of an online change that reads files and loads the library, which may happen on any
// thread: the new module, loaded and checked, with its symbol file bound, not yet known to the
// runtime.
struct PreparedModule {
  std::unique_ptr<Plc> plc;       // made, not registered
  OnlineChangeExports exports{};
  ModuleInfo info;
};

struct OnlineChange {
  std::unique_ptr<Plc> plc;   // the new module, attached and holding the running module's values
  ModuleInfo info;
  uint32_t oldLayout = 0;     // the layout signatures of the two programs' data areas
  uint32_t newLayout = 0;
};

// What an online-change status means: "69: the new module has no online-change support".
// `expected` and `running` are the layout signatures for status 67.
std::string online_change_status(int32_t status, uint32_t expected = 0, uint32_t running = 0);

// Copies, checks and loads the module at `path` with its symbol file, as the module to replace
// `running`: refuses a file with the running module's very bytes, a module without the
// online-change exports and one whose version records or entry points cannot be ours. Reads files
// and loads a library: meant for a thread other than the cycles'.
Result<PreparedModule> prepare_module(const Module& running, const std::filesystem::path& path);

// Between two cycles: registers the prepared module's entry points (its hook switch stored into
// them, set like the running module's), asks KXocc_isReloadPossible(new, old) for every entry
// point, then KX_fr_CallReInitFunc(new, old, 0), then KXocc_mapDataAddress for every held
// reference. On success the references point into the new module, which the caller runs from now
// on (and only then lets the old one go). On any refusal the result is an error that names the
// status and its meaning; the running module and the references are untouched, and the prepared
// module is unregistered again and left in `prepared` for the caller to unload.
Result<OnlineChange> change_module(const Plc& running, PreparedModule& prepared,
                                   std::span<const HeldReference> references);

}  // namespace softplc
