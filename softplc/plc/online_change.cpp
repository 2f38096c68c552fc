#include "softplc/plc/online_change.h"

#include <cstdio>
#include <vector>

#include "kxrt.h"

namespace softplc {

namespace {

std::string name_of(const EntryPointDescriptor* descriptor) {
  return descriptor->name != nullptr ? std::string(descriptor->name) : std::string();
}

std::string names_of(std::span<EntryPointDescriptor* const> entryPoints) {
  std::string names;
  for (const EntryPointDescriptor* descriptor : entryPoints) names += (names.empty() ? "" : ", ") + name_of(descriptor);
  return names.empty() ? "none" : names;
}

uint32_t predecessor_signature(const EntryPointDescriptor* descriptor) {
  return descriptor->codeDescriptor != nullptr ? descriptor->codeDescriptor->predecessorSignature : 0;
}

// The new module's entry point for each of the running module's, by name.
struct Pair {
  EntryPointDescriptor* running;
  EntryPointDescriptor* next;
};

Result<std::vector<Pair>> pair_entry_points(std::span<EntryPointDescriptor* const> running,
                                            std::span<EntryPointDescriptor* const> next) {
  std::vector<Pair> pairs;
  bool same = running.size() == next.size();
  for (std::size_t i = 0; same && i < running.size(); ++i) {
    EntryPointDescriptor* match = nullptr;
    for (EntryPointDescriptor* candidate : next)
      if (name_of(candidate) == name_of(running[i])) match = candidate;
    if (match == nullptr) same = false;
    pairs.push_back({running[i], match});
  }
  if (!same) {
    return runtime_error("the new module's entry points (" + names_of(next) + ") are not the running ones (" +
                         names_of(running) + ")");
  }
  return pairs;
}

Error refused(const std::string& why) { return runtime_error(why); }

}  // namespace

std::string online_change_status(int32_t status, uint32_t expected, uint32_t running) {
  switch (status) {
    case KX_STATUS_NO_ONLINE_CHANGE: return "69: the new module has no online-change support";
    case KX_STATUS_LAYOUT_MISMATCH:
      return "67: the new module expects layout " + hex32(expected) + " but the running one is " + hex32(running);
    case KX_STATUS_MAPPING_FAILED: return "65: the new module cannot map a variable reference";
    default: return std::to_string(status) + ": a status the online change does not know";
  }
}

Result<PreparedModule> prepare_module(const Module& running, const std::filesystem::path& path) {
  // The file as it is now: a rebuilt module at the running one's path is a new module, and a file
  // with the running module's bytes is the running module, whatever its name.
  auto copy = ModuleCopy::make(path);
  if (!copy) return copy.error();
  if (running.copy() != nullptr && copy->same_contents(*running.copy())) {
    return refused("the new module is the running one itself (" + display_path(path) +
                   " has the same contents as the running module's file)");
  }
  auto module = Module::open(std::move(copy).value());
  if (!module) return module.error();
  auto symbols = bind_symbols(*module, SymbolSource{});
  if (!symbols) return symbols.error();
  auto exports = module->online_change_exports();
  if (!exports) return exports.error();
  auto info = query_module_info(*module);
  if (!info) return info.error();
  auto plc = Plc::make(std::move(module).value(), std::move(symbols).value());
  if (!plc) return plc.error();
  return PreparedModule{std::move(plc).value(), *exports, std::move(info).value()};
}

Result<OnlineChange> change_module(const Plc& running, PreparedModule& prepared,
                                   std::span<const HeldReference> references) {
  Plc& next = *prepared.plc;
  const OnlineChangeExports& exports = prepared.exports;
  auto pairs = pair_entry_points(running.entry_points(), next.entry_points());
  if (!pairs) return pairs.error();
  if (pairs->empty()) return refused("the running module has no entry points to replace");

  if (auto registered = next.register_entry_points(); !registered) return registered.error();
  // From here every refusal unregisters the new module again.
  struct Unregister {
    Plc* plc;
    ~Unregister() {
      if (plc != nullptr) plc->unregister();
    }
  } unregister{&next};
  next.set_hooks(running.hooks());
  next.set_local_hooks(running.local_hooks());

  for (const Pair& pair : *pairs) {
    const int32_t status = exports.isReloadPossible(pair.next, pair.running, 0);
    if (status != 0) {
      return refused(online_change_status(status, predecessor_signature(pair.next), pair.running->layoutSignature));
    }
  }
  for (const Pair& pair : *pairs) {
    // The runtime applies the new module's re-initialisation table without clearing the area the
    // values were just moved into, whatever codes that table uses.
    if (kxrt_online_change_begin(pair.next) != 0) {
      const char* message = kxrt_last_message();
      return refused(std::string("the runtime refused the online change") + (message != nullptr ? std::string(": ") + message : ""));
    }
    const int32_t status = exports.reInit(pair.next, pair.running, 0);
    kxrt_online_change_end(pair.next);
    if (status != 0) {
      return refused("taking the values over: " +
                     online_change_status(status, predecessor_signature(pair.next), pair.running->layoutSignature));
    }
  }

  // Every reference is mapped into a copy first: a failed one leaves all of them as they were.
  std::vector<DataRef> mapped;
  mapped.reserve(references.size());
  for (const HeldReference& held : references) {
    DataRef copy = *held.reference;
    EntryPointDescriptor* target = nullptr;
    for (const Pair& pair : *pairs)
      if (pair.running == copy.descriptor) target = pair.next;
    if (target == nullptr) {
      return refused("the reference to " + std::string(held.name) + " is not into the running module");
    }
    const int32_t status = exports.mapDataAddress(&copy, target);
    if (status != 0) {
      std::string why = online_change_status(status);
      if (status == KX_STATUS_MAPPING_FAILED) {
        why = "65: the new module cannot map the reference to " + std::string(held.name) + " (offset " +
              std::to_string(held.reference->offset) + ")";
      }
      return refused(why);
    }
    mapped.push_back(copy);
  }
  for (std::size_t i = 0; i < references.size(); ++i) *references[i].reference = mapped[i];
  unregister.plc = nullptr;

  OnlineChange change;
  change.oldLayout = running.program() != nullptr ? running.program()->layoutSignature : 0;
  change.newLayout = next.program() != nullptr ? next.program()->layoutSignature : 0;
  change.plc = std::move(prepared.plc);
  change.info = prepared.info;
  return change;
}

}  // namespace softplc
