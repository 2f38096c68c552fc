// Where a debug event happened: its type identifier with the block name, and the reported address
// as a data-area offset with the instance, record or variable found there. One resolver per
// module, built once from its symbols, serves the event printer and the debugger alike.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "softplc/symbols/symbol_table.h"

struct EntryPointDescriptor;

namespace softplc {

struct Place {
  int32_t typeId = 0;
  std::string_view block;           // the type identifier's block name, "" when unknown
  const void* address = nullptr;
  std::optional<uint32_t> offset;   // none when the address lies outside the data area
  std::string_view name;            // "IntRamp", "IntRamp.Rate"; "" when nothing is known there

  // "14 Ramp_Int at IntRamp (260)", "3 Program_Control at offset 0", "14 ? at address 0x1234"
  std::string text() const;
};

class PlaceResolver {
 public:
  // Without symbols, places carry offsets but no names.
  explicit PlaceResolver(const Symbols* symbols);

  Place resolve(int32_t typeId, const void* address, const EntryPointDescriptor* descriptor) const;
  // The same for an address inside the data area, by its offset (Place::address stays null).
  Place resolve(int32_t typeId, uint32_t offset) const;
  const Symbols* symbols() const { return symbols_; }

 private:
  struct Slot {
    std::string_view variable;   // the first variable that starts here
    uint32_t firstRecord = 0;    // records_ that start here: [firstRecord, firstRecord + recordCount)
    uint32_t recordCount = 0;
  };
  std::string_view block(int32_t typeId) const;   // with symbols only

  const Symbols* symbols_;
  std::vector<Slot> slots_;        // one per data-area byte
  std::vector<const Record*> records_;   // by offset
  std::vector<std::string_view> blocks_;   // block names by type identifier
};

}  // namespace softplc
