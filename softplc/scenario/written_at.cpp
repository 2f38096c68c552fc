#include "softplc/scenario/written_at.h"

#include <string_view>

#include "softplc/util/text.h"

namespace softplc {

namespace {

bool name_char(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '.';
}

// Whether the statement assigns `field` as a statement of its own: "Field := ..." at its start or
// behind THEN ("IF EN THEN Field := Result; END_IF;"); the formal parameters of a call
// ("Clock(IN := Enable)") are not assignments of the caller's variables.
bool assigns(std::string_view statement, std::string_view field) {
  for (std::size_t at = statement.find(field); at != std::string_view::npos; at = statement.find(field, at + 1)) {
    const std::string_view before = trimmed(statement.substr(0, at));
    const bool starts = before.empty() || (before.size() >= 5 && equal_ignoring_case(before.substr(before.size() - 5), " THEN"));
    if (!starts || (at > 0 && name_char(statement[at - 1]))) continue;
    const std::string_view after = trimmed(statement.substr(at + field.size()));
    if (after.substr(0, 2) == ":=") return true;
  }
  return false;
}

struct Unit {
  const ListingBlock* block = nullptr;
  uint32_t offset = 0;       // the instance's offset in the data area (0 for the program)
  std::string field;         // the variable's name within the unit ("Clock.ET", "IntRampOut")
  std::string record;        // the instance's name in its caller ("IntRamp"); "" for the program
};

// The innermost unit of the listing whose instance holds the variable.
Unit unit_of(const Symbols& symbols, const Listing& listing, const Variable& variable) {
  Unit unit{listing.block(symbols.programTypeId), 0, variable.name, ""};
  for (const Record& record : symbols.records) {
    const ListingBlock* block = listing.block(record.typeId);
    if (block == nullptr || record.name.size() >= variable.name.size() ||
        !starts_with_ignoring_case(variable.name, record.name + ".") || record.name.size() < unit.record.size()) {
      continue;
    }
    unit = Unit{block, record.offset, variable.name.substr(record.name.size() + 1), record.name};
  }
  return unit;
}

// The last statement of the unit that writes the field: a step that reports it (its result or ENO),
// the call of the record that holds it, or an assignment to it.
const ListingStep* writer_in(const Listing& listing, const ListingBlock& block, uint32_t instanceOffset,
                             const Variable& variable, std::string_view field) {
  const ListingStep* found = nullptr;
  for (const ListingStep& step : listing.steps) {
    if (step.block != block.typeId || step.unit_entry()) continue;
    const bool reports = step.has_events() && !step.name.empty() && instanceOffset + step.offset == variable.offset &&
                         equal_ignoring_case(step.name, field);
    const bool holds = step.has_events() && !step.name.empty() && starts_with_ignoring_case(field, step.name + ".");
    if (reports || holds || (listing.has_text() && assigns(listing.statement_at(step.line), field))) found = &step;
  }
  return found;
}

}  // namespace

std::string written_at(const Symbols& symbols, const Variable& variable) {
  if (!symbols.listing) return "";
  const Listing& listing = *symbols.listing;
  const Unit unit = unit_of(symbols, listing, variable);
  if (unit.block == nullptr) return "";
  const ListingStep* step = writer_in(listing, *unit.block, unit.offset, variable, unit.field);
  // An input of a block instance: written by its caller's call.
  if (step == nullptr && !unit.record.empty()) {
    const std::size_t dot = unit.record.rfind('.');
    Variable record = variable;
    record.name = unit.record;
    Unit caller = dot == std::string::npos ? Unit{listing.block(symbols.programTypeId), 0, unit.record, ""}
                                           : unit_of(symbols, listing, record);
    if (caller.block != nullptr) {
      for (const ListingStep& candidate : listing.steps) {
        if (candidate.block == caller.block->typeId && candidate.has_events() &&
            equal_ignoring_case(candidate.name, caller.field) && caller.offset + candidate.offset == unit.offset) {
          step = &candidate;
        }
      }
    }
  }
  if (step == nullptr) return "";
  std::string place = listing.file + ":" + std::to_string(step->line);
  const std::string statement = listing.statement_at(step->line);
  return statement.empty() ? place : place + ": " + statement;
}

}  // namespace softplc
