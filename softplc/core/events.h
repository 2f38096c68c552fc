// Prints the debug events of the running cycles: while an EventPrinter lives, it is the runtime's
// hook handler. One line per event, indented by the blocks that are open:
//   enter kind 6 type 3 Program_Control offset 0
//     enter kind 1 type 28 Ext_Block offset 720 Ext1
//     exit Ext_Block Ext1
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "abi/kx_types.h"

struct EntryPointDescriptor;

namespace softplc {

class EventPrinter {
 public:
  explicit EventPrinter(std::ostream& out);
  ~EventPrinter();
  EventPrinter(const EventPrinter&) = delete;
  EventPrinter& operator=(const EventPrinter&) = delete;

  // A line that introduces the events of one cycle.
  void begin_cycle(uint64_t index, int64_t timeNs);

  // The event lines, without the handler plumbing (used by the handler; public for tests).
  void enter(int32_t typeId, const void* address, int32_t kind, const EntryPointDescriptor* descriptor);
  void exit();

 private:
  static void KX_CDECL on_enter(void* user, int32_t typeId, void* address, int32_t kind,
                                EntryPointDescriptor* descriptor);
  static void KX_CDECL on_exit(void* user, EntryPointDescriptor* descriptor);

  std::ostream& out_;
  std::vector<std::string> open_;   // the blocks entered with kind 6 and not yet left
};

}  // namespace softplc
