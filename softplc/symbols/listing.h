// The program's listing in Structured Text, as the symbol file maps it: the file beside the symbol
// file, its units (the program and the function blocks) with their lines, and each statement with
// its place in the text and, when it has debug events, what they report. The guide describes the
// map (docs/reference/symbol-file.md, key "listing").
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "softplc/util/result.h"

namespace softplc {

struct Symbols;

// One statement of a unit's body, or a unit's own entry (on its first line).
struct ListingStep {
  uint32_t line = 0;        // first line and column, 1-based
  uint32_t column = 0;
  uint32_t endLine = 0;     // last line and the column of its last character
  uint32_t endColumn = 0;
  int32_t block = 0;        // the type identifier of the unit whose body holds it
  int32_t typeId = 0;       // the type identifier its debug events carry; 0: it has none
  uint32_t offset = 0;      // the address they report, within the unit's record (the program's:
                            // within the data area)
  std::string name;         // the field or record there ("StartReal", "IntRamp"); "" for an entry
  bool step = false;        // it has a kind-1 event
  bool entry = false;       // it has a kind-6 event, and an ExitHook on exitLine
  bool gated = false;       // its kind-6 event and ExitHook come only when its EN is TRUE
  uint32_t exitLine = 0;

  bool has_events() const { return step || entry; }
  // The unit's own entry: the kind-6 event of its body, on its first line, whose ExitHook lands on
  // its last.
  bool unit_entry() const { return entry && !step && typeId == block; }
  bool covers(uint32_t at) const { return at >= line && at <= endLine; }
};

// The program or a function block: its name, type identifier and lines.
struct ListingBlock {
  std::string name;
  int32_t typeId = 0;
  uint32_t line = 0;       // PROGRAM ... / FUNCTION_BLOCK ...
  uint32_t endLine = 0;    // END_PROGRAM / END_FUNCTION_BLOCK

  bool covers(uint32_t at) const { return at >= line && at <= endLine; }
};

struct Listing {
  std::string file;                   // its file name, beside the symbol file
  uint32_t lineCount = 0;
  uint64_t byteCount = 0;
  std::vector<ListingBlock> blocks;   // in the file's order
  std::vector<ListingStep> steps;     // in the file's order
  std::vector<std::string> text;      // the file's lines; empty when it was not read
  std::string note;                   // why there is no text

  bool has_text() const { return !text.empty(); }
  const ListingBlock* block_at(uint32_t line) const;
  const ListingBlock* block(int32_t typeId) const;
  const ListingBlock* find_block(std::string_view name) const;   // in any case
  // The statement that covers the line, or null.
  const ListingStep* step_at(uint32_t line) const;
  // The unit's own entry (null for a unit whose caller reports its events).
  const ListingStep* entry_of(const ListingBlock& block) const;
  // A line's text; "" when there is none.
  std::string_view line(uint32_t number) const;
  // What stands at `line` as one line: a statement's lines trimmed and joined by spaces, or the
  // line itself trimmed; "" without the text.
  std::string statement_at(uint32_t line) const;
};

// Where a unit runs: each record of its type (an instance), or for the program the data area
// itself (name "", offset 0).
struct ListingInstance {
  std::string_view name;
  uint32_t offset = 0;
};
std::vector<ListingInstance> instances_of(const Symbols& symbols, int32_t unitTypeId);

// The "listing" object of an entry point, checked against what the file says of that entry point so
// far (its data area, records and type identifiers): every line inside the listing, every statement
// inside its unit, every address inside the data area in every instance, no two statements whose
// events coincide. The error is the fault alone.
Result<Listing> parse_listing(const nlohmann::json& node, const Symbols& symbols);

// Reads the listing's text from `folder`. A file that cannot be read, or whose size or line count
// is not the map's, leaves the text empty and says why in `note`: the map still serves.
void read_listing_text(Listing& listing, const std::filesystem::path& folder);

}  // namespace softplc
