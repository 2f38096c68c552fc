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

}  // namespace softplc
