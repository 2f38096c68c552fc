#include "softplc/symbols/symbol_table.h"

#include "softplc/symbols/names.h"
#include "softplc/util/text.h"

namespace softplc {

std::string_view direction_name(Direction direction) {
  switch (direction) {
    case Direction::Input: return "input";
    case Direction::Output: return "output";
    case Direction::Internal: return "internal";
  }
  return "?";
}

std::vector<const Variable*> Symbols::program_variables() const {
  std::vector<const Variable*> result;
  for (const Variable& variable : variables)
    if (variable.program) result.push_back(&variable);
  return result;
}

std::string_view Symbols::block_name(int32_t typeId) const {
  for (const BlockType& type : blockTypes)
    if (type.typeId == typeId) return type.name;
  return {};
}

const BlockType* Symbols::find_block_type(std::string_view name) const {
  for (const BlockType& type : blockTypes)
    if (same_name(type.name, name)) return &type;
  return nullptr;
}

const Record* Symbols::find_record(std::string_view name) const {
  for (const Record& record : records)
    if (same_name(record.name, name)) return &record;
  return nullptr;
}

const Variable* Symbols::at(uint32_t offset, ValueType type) const {
  for (const Variable& variable : variables)
    if (variable.offset == offset && variable.type == type) return &variable;
  return nullptr;
}

std::vector<std::string> Symbols::closest_names(std::string_view name, std::size_t limit) const {
  std::vector<std::string_view> names;
  names.reserve(variables.size());
  for (const Variable& variable : variables) names.push_back(variable.name);
  return closest(name, names, limit);
}

Result<const Variable*> Symbols::find(std::string_view name) const {
  for (const Variable& variable : variables)
    if (same_name(variable.name, name)) return &variable;

  if (const Record* record = find_record(name)) {
    std::string example;
    for (const Variable& variable : variables) {
      if (variable.offset == record->offset && variable.name.size() > record->name.size()) {
        example = variable.name;
        break;
      }
    }
    return usage_error("'" + record->name + "' is a block instance, not a variable; name one of its fields" +
                       (example.empty() ? std::string() : ", e.g. " + example));
  }
  // Text that is no name gets no search for similar names.
  if (const std::string fault = name_fault(name); !fault.empty()) {
    return usage_error("'" + shown(name) + "' is not a variable name: " + fault);
  }
  const std::vector<std::string> suggestions = closest_names(name);
  std::string message = "unknown variable '" + std::string(name) + "'";
  message += suggestions.empty() ? " ('softplc vars' lists the known names)" : did_you_mean(suggestions);
  return usage_error(message);
}

std::shared_ptr<const Symbols> SymbolFile::entry_point(std::string_view name) const {
  for (const auto& symbols : entryPoints)
    if (symbols->entryPoint == name) return symbols;
  return nullptr;
}

}  // namespace softplc
