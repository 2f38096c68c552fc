#include "softplc/symbols/symbol_file.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <set>

#include "softplc/symbols/names.h"
#include "softplc/util/files.h"
#include "softplc/util/text.h"

namespace softplc {

namespace {

// No symbol file comes near this; a larger file is not read into memory.
constexpr uint64_t kMaxSymbolFileBytes = uint64_t{64} << 20;

using nlohmann::json;

// A fault in the file's content, with where it was found.
struct Invalid {
  std::string what;
};

const json& member(const json& object, const char* name, const std::string& where) {
  if (!object.is_object()) throw Invalid{where + " is not an object"};
  const auto found = object.find(name);
  if (found == object.end()) throw Invalid{where + " has no \"" + name + "\""};
  return *found;
}

std::string text(const json& object, const char* name, const std::string& where) {
  const json& value = member(object, name, where);
  if (!value.is_string() || value.get_ref<const std::string&>().empty())
    throw Invalid{where + ": \"" + name + "\" must be a non-empty string"};
  return value.get<std::string>();
}

// A name of the data area, a block or a type: identifiers joined by dots. `what` says what it
// names ("a variable"), for the message.
std::string name_of(const json& object, const std::string& where, const char* what) {
  std::string name = text(object, "name", where);
  if (const std::string fault = name_fault(name); !fault.empty()) {
    throw Invalid{where + ": \"" + shown(name) + "\" is not " + what + " name: " + fault +
                  " (a name is letters, digits and underscores, not starting with a digit, in parts joined by dots)"};
  }
  return name;
}

uint32_t number(const json& object, const char* name, const std::string& where) {
  const json& value = member(object, name, where);
  if (!value.is_number_unsigned() || value.get<uint64_t>() > UINT32_MAX)
    throw Invalid{where + ": \"" + name + "\" must be a whole number from 0 to 4294967295"};
  return value.get<uint32_t>();
}

int32_t type_id(const json& object, const char* name, const std::string& where) {
  const uint32_t value = number(object, name, where);
  if (value > INT32_MAX) throw Invalid{where + ": \"" + name + "\" is not a type identifier"};
  return static_cast<int32_t>(value);
}

bool flag(const json& object, const char* name, const std::string& where) {
  const json& value = member(object, name, where);
  if (!value.is_boolean()) throw Invalid{where + ": \"" + name + "\" must be true or false"};
  return value.get<bool>();
}

const json& array(const json& object, const char* name, const std::string& where) {
  const json& value = member(object, name, where);
  if (!value.is_array()) throw Invalid{where + ": \"" + name + "\" must be an array"};
  return value;
}

ValueType value_type(const std::string& name, const std::string& where) {
  for (ValueType type : {ValueType::Bool, ValueType::Int, ValueType::Uint, ValueType::Real, ValueType::Time})
    if (name == type_name(type)) return type;
  throw Invalid{where + ": unknown type \"" + shown(name) + "\" (BOOL, INT, UINT, REAL or TIME)"};
}

Direction direction(const std::string& name, const std::string& where) {
  for (Direction d : {Direction::Input, Direction::Output, Direction::Internal})
    if (name == direction_name(d)) return d;
  throw Invalid{where + ": unknown direction \"" + shown(name) + "\" (input, output or internal)"};
}

BlockKind block_kind(const std::string& name, const std::string& where) {
  if (name == "program") return BlockKind::Program;
  if (name == "function_block") return BlockKind::FunctionBlock;
  if (name == "operation") return BlockKind::Operation;
  throw Invalid{where + ": unknown kind \"" + shown(name) + "\" (program, function_block or operation)"};
}

void check_inside(uint32_t offset, uint32_t size, uint32_t dataSize, const std::string& where) {
  if (uint64_t{offset} + size > dataSize) {
    throw Invalid{where + " (offset " + std::to_string(offset) + ", " + std::to_string(size) +
                  " bytes) lies outside the data area of " + std::to_string(dataSize) + " bytes"};
  }
}

std::vector<BlockType> block_types(const json& root) {
  std::vector<BlockType> types;
  std::set<int32_t> ids;
  const json& list = array(root, "typeIds", "the file");
  for (std::size_t i = 0; i < list.size(); ++i) {
    const std::string where = "typeIds[" + std::to_string(i) + "]";
    BlockType type;
    type.typeId = type_id(list[i], "id", where);
    type.name = name_of(list[i], where, "a type");
    type.kind = block_kind(text(list[i], "kind", where), where);
    if (!ids.insert(type.typeId).second) throw Invalid{where + ": type identifier " + std::to_string(type.typeId) + " twice"};
    types.push_back(std::move(type));
  }
  return types;
}

Symbols entry_point(const json& node, const std::string& where, const SymbolFile& file,
                    const std::vector<BlockType>& types) {
  Symbols symbols;
  symbols.file = file.path;
  symbols.module = file.module;
  symbols.ticksPerSecond = file.ticksPerSecond;
  symbols.blockTypes = types;
  symbols.entryPoint = name_of(node, where, "an entry point");
  symbols.dataSize = number(node, "dataSize", where);
  symbols.layoutSignature = number(node, "layoutSignature", where);
  const json& program = member(node, "program", where);
  symbols.program = name_of(program, where + ".program", "a program");
  symbols.programTypeId = type_id(program, "typeId", where + ".program");

  std::set<std::string> names;
  const auto unique = [&](const std::string& name, const std::string& at) {
    if (!names.insert(lower(name)).second) throw Invalid{at + ": the name \"" + name + "\" is given twice"};
  };

  const json& records = array(node, "records", where);
  for (std::size_t i = 0; i < records.size(); ++i) {
    const std::string at = where + ".records[" + std::to_string(i) + "]";
    Record record;
    record.name = name_of(records[i], at, "a record");
    record.offset = number(records[i], "offset", at);
    record.size = number(records[i], "size", at);
    record.typeId = type_id(records[i], "typeId", at);
    check_inside(record.offset, record.size, symbols.dataSize, at + " " + record.name);
    unique(record.name, at);
    symbols.records.push_back(std::move(record));
  }
  const json& variables = array(node, "variables", where);
  for (std::size_t i = 0; i < variables.size(); ++i) {
    const std::string at = where + ".variables[" + std::to_string(i) + "]";
    Variable variable;
    variable.name = name_of(variables[i], at, "a variable");
    variable.offset = number(variables[i], "offset", at);
    variable.type = value_type(text(variables[i], "type", at), at);
    variable.program = flag(variables[i], "program", at);
    variable.direction = direction(text(variables[i], "direction", at), at);
    if (variables[i].contains("operation")) variable.operation = type_id(variables[i], "operation", at);
    check_inside(variable.offset, variable.size(), symbols.dataSize, at + " " + variable.name);
    unique(variable.name, at);
    symbols.variables.push_back(std::move(variable));
  }
  const auto byOffset = [](const auto& a, const auto& b) { return a.offset < b.offset; };
  std::stable_sort(symbols.variables.begin(), symbols.variables.end(), byOffset);
  std::stable_sort(symbols.records.begin(), symbols.records.end(), byOffset);
  if (node.contains("listing")) {
    auto listing = parse_listing(node.at("listing"), symbols);
    if (!listing) throw Invalid{where + ".listing: " + listing.error().message};
    symbols.listing = std::move(listing).value();
  }
  return symbols;
}

}  // namespace

std::filesystem::path default_symbol_path(const std::filesystem::path& module) {
  std::filesystem::path path = module;
  path.replace_extension(".symbols.json");
  return path;
}

Result<SymbolFile> parse_symbol_file(std::string_view textOfFile, const std::string& source) {
  SymbolFile file;
  file.path = source;
  try {
    const json root = json::parse(textOfFile.begin(), textOfFile.end());
    if (!root.is_object() || root.value("format", std::string()) != kSymbolFileFormat)
      throw Invalid{"it is not a symbol file (no \"format\": \"" + std::string(kSymbolFileFormat) + "\")"};
    const uint32_t version = number(root, "version", "the file");
    if (version != static_cast<uint32_t>(kSymbolFileVersion)) {
      throw Invalid{"format version " + std::to_string(version) + " is not one this softplc reads (version " +
                    std::to_string(kSymbolFileVersion) + ")"};
    }
    file.module = text(root, "module", "the file");
    file.codeVersion = root.contains("codeVersion") ? text(root, "codeVersion", "the file") : std::string();
    file.ticksPerSecond = number(root, "ticksPerSecond", "the file");
    const std::vector<BlockType> types = block_types(root);
    const json& entryPoints = array(root, "entryPoints", "the file");
    for (std::size_t i = 0; i < entryPoints.size(); ++i) {
      file.entryPoints.push_back(std::make_shared<const Symbols>(
          entry_point(entryPoints[i], "entryPoints[" + std::to_string(i) + "]", file, types)));
    }
  } catch (const Invalid& invalid) {
    return runtime_error("symbol file " + source + " is not valid: " + invalid.what);
  } catch (const nlohmann::json::exception& e) {
    return runtime_error("symbol file " + source + " is not valid JSON: " + e.what());
  }
  return file;
}

Result<SymbolFile> load_symbol_file(const std::filesystem::path& path) {
  auto bytes = read_file_bytes(path, kMaxSymbolFileBytes);
  if (!bytes) return runtime_error("cannot read symbol file " + path.string() + ": " + bytes.error().message);
  auto file = parse_symbol_file(std::string(bytes->begin(), bytes->end()), path.string());
  if (!file) return file;
  // The listing's text lies beside the file.
  for (auto& symbols : file->entryPoints) {
    if (!symbols->listing) continue;
    auto withText = std::make_shared<Symbols>(*symbols);
    read_listing_text(*withText->listing, path.parent_path());
    symbols = std::move(withText);
  }
  return file;
}

}  // namespace softplc
