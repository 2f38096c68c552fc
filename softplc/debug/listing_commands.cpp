// The debugger's commands on the program's listing: `list` and the breakpoints on its lines.
#include <algorithm>

#include "softplc/debug/session_impl.h"
#include "softplc/symbols/names.h"
#include "softplc/util/text.h"

namespace softplc {

namespace {

// Lines shown before and after a statement.
constexpr uint32_t kContext = 5;

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

const Listing* Session::listing_text() {
  if (symbols() == nullptr) {
    refuse(plc().symbols_note() + ", so it has no listing");
    return nullptr;
  }
  const Listing* listing = target_.source().listing();
  if (listing == nullptr) {
    refuse("the symbol file of module " + plc().module().name() + " maps no listing");
    return nullptr;
  }
  if (!listing->has_text()) {
    refuse(listing->note);
    return nullptr;
  }
  return listing;
}

void Session::show_lines(const Listing& listing, uint32_t first, uint32_t last) {
  const std::size_t width = std::to_string(listing.lineCount).size();
  // The statement the cycle is held at, all its lines.
  const ListingStep* held = target_.held_at().line != 0 ? listing.step_at(target_.held_at().line) : nullptr;
  if (held != nullptr && held->unit_entry()) held = nullptr;
  for (uint32_t n = first; n <= last; ++n) {
    const bool here = held != nullptr ? held->covers(n) : n == target_.held_at().line;
    const bool breakpoint = std::any_of(breakpoints_.all().begin(), breakpoints_.all().end(), [&](const Breakpoint& b) {
      return b.target == Breakpoint::Target::Line && b.line == n;
    });
    const std::string number = std::to_string(n);
    message(std::string(here ? "=>" : breakpoint ? " b" : "  ") + " " + std::string(width - number.size(), ' ') +
            number + "  " + std::string(listing.line(n)));
  }
}

Flow Session::cmd_list(const std::vector<std::string>& args) {
  const Listing* listing = listing_text();
  if (listing == nullptr) return Flow::Stay;
  uint32_t line = 0;
  if (args.empty()) {
    if (!target_.in_cycle() || target_.held_at().line == 0) {
      message("the cycle is not held at a statement of the listing; 'list LINE' or 'list BLOCK' shows it (the "
              "breakpoints: 'breakpoints')");
      return Flow::Stay;
    }
    line = target_.held_at().line;
  } else if (const auto number = line_number(args[0])) {
    if (*number == 0 || *number > listing->lineCount)
      return refuse("the listing " + listing->file + " has lines 1 to " + std::to_string(listing->lineCount));
    line = *number;
  } else {
    const ListingBlock* block = listing->find_block(args[0]);
    if (block == nullptr) {
      if (const Record* record = symbols()->find_record(args[0])) block = listing->block(record->typeId);
    }
    if (block == nullptr) {
      std::vector<std::string_view> names;
      for (const ListingBlock& b : listing->blocks) names.push_back(b.name);
      for (const Record& record : symbols()->records)
        if (listing->block(record.typeId) != nullptr) names.push_back(record.name);
      return refuse("no block or instance named '" + args[0] + "' in the listing" + did_you_mean(closest(args[0], names)));
    }
    show_lines(*listing, block->line, block->endLine);
    return Flow::Stay;
  }
  // Around the statement at the line, within its block.
  const ListingStep* step = listing->step_at(line);
  const ListingBlock* block = listing->block_at(line);
  const uint32_t from = step != nullptr && !step->unit_entry() ? step->line : line;
  const uint32_t to = step != nullptr && !step->unit_entry() ? step->endLine : line;
  uint32_t first = from > kContext ? from - kContext : 1;
  uint32_t last = std::min(to + kContext, listing->lineCount);
  if (block != nullptr) {
    first = std::max(first, block->line);
    last = std::min(last, block->endLine);
  }
  show_lines(*listing, first, last);
  return Flow::Stay;
}

Flow Session::break_at_line(std::string_view qualifier, uint32_t line) {
  if (symbols() == nullptr) return refuse(plc().symbols_note() + ": the listing's lines are not known");
  const Listing* listing = target_.source().listing();
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
  const std::string statement = listing->statement_at(breakpoint.line);
  breakpoint.text = "line " + std::to_string(breakpoint.line) + " of " + block->name + where +
                    (statement.empty() ? "" : ": " + statement);
  const Breakpoint& added = breakpoints_.add(std::move(breakpoint));
  message("breakpoint " + std::to_string(added.number) + ": " + added.description());
  if (!hooks_on()) message("note: events are off, so it cannot fire until 'events on'");
  return Flow::Stay;
}

}  // namespace softplc
