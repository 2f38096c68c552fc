// The names of a module's data area, as its symbol file gives them: every variable with its offset,
// type and direction, the block instances and the records embedded in them, the names of the
// type identifiers that the debug events carry, and the program's listing with the map from those
// events to its lines. Names are matched without regard to case.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "softplc/symbols/listing.h"
#include "softplc/util/result.h"
#include "softplc/util/value_type.h"

namespace softplc {

// Who writes a variable: the program reads an input (only the outside writes it), writes an output
// in every cycle, and block instances hold internal fields.
enum class Direction : uint8_t { Input, Output, Internal };
std::string_view direction_name(Direction direction);

struct Variable {
  std::string name;            // "LagIn", "Ext1.In1", "IntRamp.Clock.ET", or "16:INT" by offset
  uint32_t offset = 0;         // in the entry point's data area
  ValueType type = ValueType::Bool;
  bool program = false;        // a variable of the program itself (not an instance field)
  Direction direction = Direction::Internal;
  int32_t operation = 0;       // the type identifier of the operation whose debug events report this
                               // variable's address; 0 when none does

  uint32_t size() const { return size_of(type); }
};

// A block instance or a record embedded in one (timer, edge detector).
struct Record {
  std::string name;   // "IntRamp", "IntRamp.Clock", "LagResetEdge"
  uint32_t offset = 0;
  uint32_t size = 0;
  int32_t typeId = 0;   // the type identifier its debug events carry
};

enum class BlockKind : uint8_t { Program, FunctionBlock, Operation };

struct BlockType {
  int32_t typeId = 0;
  std::string name;   // "Ramp_Int", "TON", "ADD_REAL"
  BlockKind kind = BlockKind::Operation;
};

// The names of one entry point's data area.
struct Symbols {
  std::string file;              // the symbol file they come from
  std::string module;            // the module the file describes
  uint32_t ticksPerSecond = 0;
  std::string entryPoint;        // "KX_PI_Program_Control"
  uint32_t dataSize = 0;
  uint32_t layoutSignature = 0;
  std::string program;           // the program's block name and type identifier
  int32_t programTypeId = 0;
  std::vector<Variable> variables;   // sorted by offset
  std::vector<Record> records;       // sorted by offset
  std::vector<BlockType> blockTypes;
  std::optional<Listing> listing;    // the program's listing, when the file maps one

  std::vector<const Variable*> program_variables() const;
  // The block name of a type identifier, "" when the identifier is unknown.
  std::string_view block_name(int32_t typeId) const;
  const BlockType* find_block_type(std::string_view name) const;
  const Record* find_record(std::string_view name) const;
  // A variable by name; an unknown name gives a usage error that suggests the closest names (and
  // says so when the name is a block instance's); text that is no name (see name_fault) gives one
  // that says why, with the text shown safely, and no suggestions.
  Result<const Variable*> find(std::string_view name) const;
  // The variable of this type that starts at `offset`, or null.
  const Variable* at(uint32_t offset, ValueType type) const;
  // Up to `limit` variable names closest to `name`, best first.
  std::vector<std::string> closest_names(std::string_view name, std::size_t limit = 3) const;
};

// A module's symbol file: what it says of the module and the names of each of its entry points.
struct SymbolFile {
  std::string path;
  std::string module;
  std::string codeVersion;
  uint32_t ticksPerSecond = 0;
  std::vector<std::shared_ptr<const Symbols>> entryPoints;

  // The names of the entry point of that name, or null.
  std::shared_ptr<const Symbols> entry_point(std::string_view name) const;
};

}  // namespace softplc
