// Where a breakpoint stops, from what a front end names: a line of the listing, a block type, an
// instance, a variable whose operation reports it, a type identifier. Every front end (the prompt,
// an editor's adapter) makes its breakpoints here, with the same reasons for a refusal.
#include <algorithm>

#include "softplc/debug/debuggee.h"
#include "softplc/symbols/names.h"
#include "softplc/util/text.h"

namespace softplc {

namespace {

// Names of blocks, instances and variables close to `name`, for a message.
std::string suggestions_for(const Symbols& symbols, std::string_view name) {
  std::vector<std::string_view> candidates;
  for (const BlockType& type : symbols.blockTypes) candidates.push_back(type.name);
  for (const Record& record : symbols.records) candidates.push_back(record.name);
  for (const Variable& variable : symbols.variables) candidates.push_back(variable.name);
  return did_you_mean(closest(name, candidates));
}

// Why no debug event reports a variable, so that a breakpoint on it could never fire.
std::string never_fires(const Symbols& symbols, const Variable& variable) {
  std::string why = "a breakpoint on " + variable.name + " could never fire: ";
  if (variable.program && variable.direction == Direction::Input) {
    why += "nothing in the module writes it (the program only reads it)";
  } else {
    why += "no operation's debug events report it (only a plain assignment writes it)";
  }
  // A gated operation reports its ENO variable, 4 bytes ahead of its result.
  if (variable.offset >= 4) {
    for (const Variable& other : symbols.variables) {
      if (other.offset == variable.offset - 4 && other.type == ValueType::Bool && other.operation != 0) {
        return why + "; the operation that computes it reports " + other.name + ": 'break " + other.name + "'";
      }
    }
  }
  return why + "; 'watch " + variable.name + " stop' stops when it changes";
}

std::optional<uint32_t> line_number(std::string_view text) { return whole_number<uint32_t>(text); }

std::string lines_text(const ListingBlock& block) {
  return block.name + " (lines " + std::to_string(block.line) + " to " + std::to_string(block.endLine) + ")";
}

// Whether a breakpoint can stop at the line: a statement with debug events starts there, or a
// block whose body reports its entry begins or ends there.
bool stops_at(const Listing& listing, uint32_t line) {
  const ListingStep* step = listing.step_at(line);
  if (step != nullptr) return step->has_events() && step->line == line;
  const ListingBlock* block = listing.block_at(line);
  return block != nullptr && line == block->endLine && listing.entry_of(*block) != nullptr;
}

// "; the nearest lines that do are 46 and 49" within [first, last].
std::string nearest_lines(const Listing& listing, uint32_t line, uint32_t first, uint32_t last) {
  std::vector<uint32_t> found;
  for (uint32_t n = line; n-- > first;) {
    if (stops_at(listing, n)) {
      found.push_back(n);
      break;
    }
  }
  for (uint32_t n = line + 1; n <= last; ++n) {
    if (stops_at(listing, n)) {
      found.push_back(n);
      break;
    }
  }
  if (found.empty()) return "; no line near it does";
  if (found.size() == 1) return "; the nearest line that does is " + std::to_string(found[0]);
  return "; the nearest lines that do are " + std::to_string(found[0]) + " and " + std::to_string(found[1]);
}

// What a line inside `block` holds that a breakpoint cannot stop at: "a plain copy", "a comment".
std::string no_events(const Listing& listing, const ListingBlock& block, uint32_t line) {
  if (const ListingStep* step = listing.step_at(line); step != nullptr && !step->has_events()) return "a plain copy";
  if (line == block.line || line == block.endLine)
    return "where " + block.name + (line == block.line ? " begins" : " ends");
  const std::string_view text = trimmed(listing.line(line), " \t\r");
  if (!listing.has_text()) return "no statement that has one";
  if (text.empty()) return "empty";
  if (text.substr(0, 2) == "(*") return "a comment";
  const auto firstStep = std::find_if(listing.steps.begin(), listing.steps.end(), [&](const ListingStep& step) {
    return step.block == block.typeId && !step.unit_entry();
  });
  if (firstStep == listing.steps.end() || line < firstStep->line) return "a declaration";
  return "no statement that has one";
}

}  // namespace

Result<Breakpoint> Debuggee::line_breakpoint(std::string_view qualifier, uint32_t line) {
  const auto refuse = [](std::string text) -> Result<Breakpoint> { return usage_error(std::move(text)); };
  if (symbols() == nullptr) return refuse(plc().symbols_note() + ": the listing's lines are not known");
  const Listing* listing = source().listing();
  if (listing == nullptr) {
    return refuse("the symbol file of module " + plc().module().name() +
                  " maps no listing, so its lines are not known; 'break BLOCK' and 'break VARIABLE' work");
  }
  const std::string at = "line " + std::to_string(line);
  if (line == 0 || line > listing->lineCount)
    return refuse(at + " is not in the listing " + listing->file + " (lines 1 to " + std::to_string(listing->lineCount) + ")");
  const ListingBlock* block = listing->block_at(line);
  if (block == nullptr) {
    return refuse(at + " lies outside the program and its blocks: it reports no debug event" +
                  nearest_lines(*listing, line, 1, listing->lineCount));
  }

  // Which instances: every one of the block's, or the one named.
  std::vector<ListingInstance> instances = instances_of(*symbols(), block->typeId);
  std::string where = instances.size() == 1 && instances[0].name.empty() ? "" : ", in every instance (";
  if (!where.empty()) {
    for (std::size_t i = 0; i < instances.size(); ++i) where += (i == 0 ? "" : ", ") + std::string(instances[i].name);
    where += ")";
  }
  std::string label = at;
  if (!qualifier.empty()) {
    const ListingBlock* named = listing->find_block(qualifier);
    const Record* record = named == nullptr ? symbols()->find_record(qualifier) : nullptr;
    if (named == nullptr && (record == nullptr || listing->block(record->typeId) == nullptr))
      return refuse("no block or instance named '" + std::string(qualifier) + "' in the listing");
    if (named != nullptr && named != block) return refuse(at + " is in " + lines_text(*block) + ", not in " + lines_text(*named));
    if (record != nullptr && record->typeId != block->typeId) {
      return refuse(record->name + " is a " + listing->block(record->typeId)->name + "; " + at + " is in " +
                    lines_text(*block));
    }
    if (record != nullptr) {
      instances = {{record->name, record->offset}};
      where = ", in " + record->name;
    }
    label = (named != nullptr ? named->name : record->name) + ":" + std::to_string(line);
  }
  if (instances.empty()) return refuse(block->name + " has no instance in the data area: " + at + " never runs");
  // A block with one instance: a condition or a log message may name its fields by their own names.
  std::string scope = instances.size() == 1 ? std::string(instances[0].name) : std::string();

  // The statement's first event: its kind-1 event, the entry of a block's body, or the ExitHook of
  // a block's last line.
  const ListingStep* step = listing->step_at(line);
  const ListingStep* entry = listing->entry_of(*block);
  Breakpoint breakpoint;
  breakpoint.target = Breakpoint::Target::Line;
  if (step != nullptr && step->has_events()) {
    breakpoint.kind = step->step ? KX_EVENT_STEP : KX_EVENT_ENTRY;
    breakpoint.typeId = step->typeId;
    breakpoint.line = step->line;
    for (const ListingInstance& instance : instances) breakpoint.offsets.push_back(instance.offset + step->offset);
  } else if (line == block->endLine && entry != nullptr) {
    breakpoint.kind = kEventExit;
    breakpoint.typeId = entry->typeId;
    breakpoint.line = line;
    for (const ListingInstance& instance : instances) breakpoint.offsets.push_back(instance.offset + entry->offset);
  } else {
    const bool lines = std::any_of(listing->steps.begin(), listing->steps.end(), [&](const ListingStep& s) {
      return s.block == block->typeId && s.has_events();
    });
    const std::string why = at + " is " + no_events(*listing, *block, line) + ": it reports no debug event";
    if (lines) return refuse(why + nearest_lines(*listing, line, block->line, block->endLine));
    // A body that is not generated code: the calls report its events.
    std::string calls;
    for (const ListingStep& s : listing->steps)
      if (s.typeId == block->typeId && s.entry) calls += (calls.empty() ? "" : ", ") + std::to_string(s.line);
    return refuse(why + "; " + block->name + "'s body reports none" +
                  (calls.empty() ? std::string() : ", its calls do (line " + calls + ")"));
  }
  breakpoint.name = label;
  breakpoint.blockName = block->name;
  breakpoint.scope = std::move(scope);
  const std::string statement = listing->statement_at(breakpoint.line);
  breakpoint.text = "line " + std::to_string(breakpoint.line) + " of " + block->name + where +
                    (statement.empty() ? "" : ": " + statement);
  return breakpoint;
}

Result<Breakpoint> Debuggee::typeid_breakpoint(std::string_view text) {
  Breakpoint breakpoint;
  const auto id = whole_number<int32_t>(text);
  if (symbols() != nullptr && (!id || symbols()->block_name(*id).empty())) {
    int32_t low = INT32_MAX, high = 0;
    for (const BlockType& type : symbols()->blockTypes) {
      low = std::min(low, type.typeId);
      high = std::max(high, type.typeId);
    }
    return usage_error("'" + std::string(text) + "' is not a type identifier of this module (" + std::to_string(low) +
                       " to " + std::to_string(high) + ")");
  }
  if (!id || *id < 0) return usage_error("'" + std::string(text) + "' is not a type identifier");
  breakpoint.target = Breakpoint::Target::TypeId;
  breakpoint.typeId = *id;
  if (symbols() != nullptr) breakpoint.blockName = std::string(symbols()->block_name(*id));
  return breakpoint;
}

Result<Breakpoint> Debuggee::name_breakpoint(std::string_view name) {
  // LINE or NAME:LINE.
  const std::size_t colon = name.rfind(':');
  const std::string_view number = colon == std::string::npos ? name : name.substr(colon + 1);
  if (const auto line = line_number(number)) {
    return line_breakpoint(colon == std::string::npos ? std::string_view() : name.substr(0, colon), *line);
  }
  Breakpoint breakpoint;
  if (symbols() == nullptr) {
    return usage_error(plc().symbols_note() + ": blocks, instances and variables have no names; 'break typeid N' works");
  }
  if (const BlockType* type = symbols()->find_block_type(name)) {
    breakpoint.target = Breakpoint::Target::BlockType;
    breakpoint.typeId = type->typeId;
    breakpoint.name = type->name;
    breakpoint.blockName = type->name;
  } else if (const Record* record = symbols()->find_record(name)) {
    breakpoint.target = Breakpoint::Target::Record;
    breakpoint.typeId = record->typeId;
    breakpoint.offset = record->offset;
    breakpoint.name = record->name;
    breakpoint.blockName = std::string(symbols()->block_name(record->typeId));
  } else if (auto found = symbols()->find(name)) {
    const Variable& variable = **found;
    if (variable.operation == 0) return usage_error(never_fires(*symbols(), variable));
    breakpoint.target = Breakpoint::Target::Variable;
    breakpoint.typeId = variable.operation;
    breakpoint.offset = variable.offset;
    breakpoint.name = variable.name;
    breakpoint.blockName = std::string(symbols()->block_name(variable.operation));
  } else if (const std::string fault = name_fault(name); !fault.empty()) {
    return usage_error("'" + shown(name) + "' is not a name: " + fault);
  } else {
    return usage_error("no block, instance or variable named '" + std::string(name) + "'" +
                       suggestions_for(*symbols(), name) + " ('softplc vars' lists the variables)");
  }
  return breakpoint;
}

}  // namespace softplc
