// Prints the debug events of the running cycles: while an EventPrinter lives, the hooks are on and
// it is the runtime's hook handler. One line per event, indented by the blocks that are open, with
// the line of the program's listing it lands on when the symbol file maps one:
//   cycle 0 t=0s
//   enter kind 6 type 3 Program_Control offset 0 line 5
//     enter kind 1 type 28 Ext_Block offset 720 Ext1 line 62
//     exit Ext_Block Ext1 line 62
//   cycle 0: error 140 (2 recorded)
// Lines are formatted into a buffer allocated once, written out at the end of each cycle (or when
// it fills up). The text of every place the symbol file knows (a block instance, a record, a
// variable that an operation reports, the program) is made once per module, so that an event
// there costs a lookup and a copy; other places are formatted piece by piece. An event allocates
// nothing.
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

  // The lines of the events at one place the symbol file knows.
  struct KnownPlace {
    int32_t typeId = 0;
    // Whole for kinds 1 and 6: "enter kind 1 type 13 R_TRIG offset 256 LagResetEdge line 45\n"
    std::string enterLine[2];
    std::string enterTail;   // for any other kind, behind it: " type 13 R_TRIG offset 256 LagResetEdge\n"
    std::string exitLine;    // "exit R_TRIG LagResetEdge line 45\n"
  };
  // A block entered with kind 6 and not yet left.
  struct Open {
    const KnownPlace* known;   // or null: the names below
    std::string_view block;
    std::string_view name;
  };

  void learn_places();
  const KnownPlace* known(int32_t typeId, uint32_t offset) const;
  // Room for `length` more bytes; writes the buffer out first when it could not take them.
  char* room(std::size_t length);
  char* indent(char* out) const;
  void append(std::string_view text);

  std::ostream& out_;
  Engine& engine_;
  PlaceResolver places_;
  std::vector<KnownPlace> known_;        // by offset, then type identifier
  std::vector<uint32_t> knownAt_;        // per data-area offset: the first of known_ there (and one more)
  std::vector<Open> open_;
  std::vector<char> buffer_;
  std::size_t used_ = 0;
};

}  // namespace softplc
