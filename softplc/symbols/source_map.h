// Where the debug events of a data area land in the program's listing: an event of kind 1 or 6,
// by its type identifier and data-area offset, gives the statement it belongs to and the instance
// it ran in. Built once per module from its symbols, for the event printer and the debugger alike.
// (An ExitHook lands on the exit line of the statement whose kind-6 event it closes.)
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "softplc/symbols/symbol_table.h"

namespace softplc {

struct SourceLocation {
  const ListingStep* step = nullptr;
  const ListingBlock* block = nullptr;   // the unit whose body holds the statement
  std::string_view instance;             // the record it ran in; "" in the program

  // The line of the event (kind 1 or 6), or of the ExitHook that closes it.
  uint32_t line() const { return step->line; }
  uint32_t exit_line() const { return step->exitLine; }
};

class SourceMap {
 public:
  // Without symbols or a listing, nothing is found.
  explicit SourceMap(const Symbols* symbols);

  const Listing* listing() const { return listing_; }
  // The statement of a kind-1 or kind-6 event, or null when the listing has none there.
  const SourceLocation* find(int32_t typeId, uint32_t offset, int32_t kind) const;

 private:
  struct Entry {
    int32_t typeId;
    uint32_t offset;
    int32_t kind;
    SourceLocation where;
  };
  const Listing* listing_ = nullptr;
  std::vector<Entry> entries_;   // by type identifier, offset and kind
};

}  // namespace softplc
