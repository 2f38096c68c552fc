// Prints the debug events of the running cycles: while an EventPrinter lives, the hooks are on and
// it is the runtime's hook handler. One line per event, indented by the blocks that are open:
//   cycle 0 t=0s
//   enter kind 6 type 3 Program_Control offset 0
//     enter kind 1 type 28 Ext_Block offset 720 Ext1
//     exit Ext_Block Ext1
//   cycle 0: error 140 (2 recorded)
// Each line is formatted once into a buffer that is written out at the end of each cycle; places
// come from a name table built once per module.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "abi/kx_types.h"
#include "softplc/engine/engine.h"
#include "softplc/symbols/place.h"

namespace softplc {

class EventPrinter : public CycleObserver {
 public:
  // Switches the running module's hooks on and installs the hook handler.
  EventPrinter(std::ostream& out, Engine& engine);
  // Switches the hooks off, removes the handler and writes what is buffered.
  ~EventPrinter() override;
  EventPrinter(const EventPrinter&) = delete;
  EventPrinter& operator=(const EventPrinter&) = delete;

  unsigned points() const override { return kCycleStarting | kAfterCycle | kModuleChanged; }
  void cycle_starting(Engine& engine, uint64_t index, int64_t timeNs) override;
  void after_cycle(Engine& engine, const CycleInfo& cycle) override;
  void module_changed(Engine& engine) override;

  // The event lines, without the handler plumbing (used by the handler).
  void enter(int32_t typeId, const void* address, int32_t kind, const EntryPointDescriptor* descriptor);
  void exit();
  void flush();

 private:
  static void KX_CDECL on_enter(void* user, int32_t typeId, void* address, int32_t kind,
                                EntryPointDescriptor* descriptor);
  static void KX_CDECL on_exit(void* user, EntryPointDescriptor* descriptor);
  void indent();

  struct Open {
    std::string_view block;
    std::string_view name;
  };

  std::ostream& out_;
  Engine& engine_;
  PlaceResolver places_;
  std::vector<Open> open_;   // the blocks entered with kind 6 and not yet left
  std::string buffer_;
};

}  // namespace softplc
