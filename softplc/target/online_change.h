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

#include "softplc/target/plc.h"

namespace softplc {

// A variable reference that the host keeps, and the name by which messages call it.
struct HeldReference {
  DataRef* reference = nullptr;
  std::string_view name;
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

// Loads the module at `path`, attaches it (its entry points registered, the host's hook switch
// stored into them, set like the running module's), asks KXocc_isReloadPossible(new, old) for
// every entry point, then KX_fr_CallReInitFunc(new, old, 0), then KXocc_mapDataAddress for every
// held reference. On success the references point into the new module, which the caller runs
// from now on (and only then lets the old one go). On any refusal the result is an error that
// names the status and its meaning; the running module and the references are untouched, and
// the new module is unloaded again.
Result<OnlineChange> change_module(const Plc& running, const std::filesystem::path& path,
                                   std::span<const HeldReference> references);

}  // namespace softplc
