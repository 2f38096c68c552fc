// The host's symbol table of the application's data area: every variable by name, offset and type,
// the block instances and embedded records by name and type identifier, and the names of the type
// identifiers that the debug events carry. Names are matched without regard to case.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "softplc/core/result.h"
#include "softplc/core/value_type.h"

namespace softplc {

// The entry point whose data area the table describes, that area's size and the layout signature
// that identifies this layout.
inline constexpr std::string_view kProgramEntryPoint = "KX_PI_Program_Control";
inline constexpr uint32_t kDataAreaSize = 896;
inline constexpr uint32_t kLayoutSignature = 0x4C5080A3;
// Module versions whose data areas have this very layout under another signature: the
// online-change variant (0x4C5080DF), which replaces the layout 0x4C5080A3.
inline constexpr std::array<uint32_t, 2> kKnownLayoutSignatures = {kLayoutSignature, 0x4C5080DF};
inline constexpr bool is_known_layout(uint32_t signature) {
  for (uint32_t known : kKnownLayoutSignatures)
    if (known == signature) return true;
  return false;
}

struct Symbol {
  std::string name;      // "LagIn", "Ext1.In1", "IntRamp.Clock.ET"
  uint32_t offset = 0;   // in the data area
  ValueType type = ValueType::Bool;
  bool program = false;  // a variable of the program itself (not an instance field)

  uint32_t size() const { return size_of(type); }
};

// A block instance or a record embedded in one (timer, edge detector).
struct Record {
  std::string name;      // "IntRamp", "IntRamp.Clock", "LagResetEdge"
  uint32_t offset = 0;
  uint32_t size = 0;
  int32_t typeId = 0;    // the type identifier its debug events carry
};

struct BlockType {
  int32_t typeId;
  std::string_view name;
};

// Every variable, sorted by offset (a record's fields follow the record's position).
std::span<const Symbol> symbols();
// The program's own variables, in offset order.
std::vector<const Symbol*> program_variables();
// The block instances and embedded records, sorted by offset.
std::span<const Record> records();
// The type identifiers and the blocks they stand for.
std::span<const BlockType> block_types();

// The block name of a type identifier, "" when the identifier is unknown.
std::string_view block_name(int32_t typeId);

// Looks a variable up by name, ignoring case. An unknown name gives a usage error that suggests
// the closest known names.
Result<const Symbol*> find_symbol(std::string_view name);

// Up to `limit` known variable names closest to `name` by edit distance (ignoring case), best
// first; only names that are plausibly a misspelling are offered.
std::vector<std::string> closest_names(std::string_view name, std::size_t limit = 3);

// The name under which a debug event's address is known: the record of that type at the offset
// (a block instance, a timer, an edge detector), else the variable that starts there; "" if none.
std::string name_for_event(int32_t typeId, uint32_t offset);

// The edit distance between two names, ignoring case.
std::size_t edit_distance(std::string_view a, std::string_view b);

}  // namespace softplc
