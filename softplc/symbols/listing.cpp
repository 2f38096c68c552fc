#include "softplc/symbols/listing.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <set>
#include <tuple>

#include "softplc/symbols/names.h"
#include "softplc/symbols/symbol_table.h"
#include "softplc/util/files.h"
#include "softplc/util/text.h"

namespace softplc {

namespace {

// No listing comes near this; a larger file is not read into memory.
constexpr uint64_t kMaxListingBytes = uint64_t{16} << 20;

using nlohmann::json;

struct Invalid {
  std::string what;
};

const json& member(const json& object, const char* name, const std::string& where) {
  if (!object.is_object()) throw Invalid{where + " is not an object"};
  const auto found = object.find(name);
  if (found == object.end()) throw Invalid{where + " has no \"" + name + "\""};
  return *found;
}

uint64_t number(const json& object, const char* name, const std::string& where, uint64_t low, uint64_t high) {
  const json& value = member(object, name, where);
  if (!value.is_number_unsigned() || value.get<uint64_t>() < low || value.get<uint64_t>() > high) {
    throw Invalid{where + ": \"" + name + "\" must be a whole number from " + std::to_string(low) + " to " +
                  std::to_string(high)};
  }
  return value.get<uint64_t>();
}

std::string text(const json& object, const char* name, const std::string& where) {
  const json& value = member(object, name, where);
  if (!value.is_string() || value.get_ref<const std::string&>().empty())
    throw Invalid{where + ": \"" + name + "\" must be a non-empty string"};
  return value.get<std::string>();
}

ListingBlock block_of(const json& node, const std::string& where, uint32_t lines) {
  ListingBlock block;
  block.name = text(node, "name", where);
  block.typeId = static_cast<int32_t>(number(node, "typeId", where, 0, INT32_MAX));
  block.line = static_cast<uint32_t>(number(node, "line", where, 1, lines));
  block.endLine = static_cast<uint32_t>(number(node, "endLine", where, block.line, lines));
  return block;
}

ListingStep step_of(const json& node, const std::string& where, uint32_t lines) {
  ListingStep step;
  step.line = static_cast<uint32_t>(number(node, "line", where, 1, lines));
  step.column = static_cast<uint32_t>(number(node, "column", where, 1, UINT32_MAX));
  step.endLine = static_cast<uint32_t>(number(node, "endLine", where, step.line, lines));
  step.endColumn = static_cast<uint32_t>(number(node, "endColumn", where, 1, UINT32_MAX));
  step.block = static_cast<int32_t>(number(node, "block", where, 0, INT32_MAX));
  const json& kinds = member(node, "kinds", where);
  if (!kinds.is_array()) throw Invalid{where + ": \"kinds\" must be an array"};
  for (const json& kind : kinds) {
    if (kind == 1 && !step.step) step.step = true;
    else if (kind == 6 && !step.entry) step.entry = true;
    else throw Invalid{where + ": \"kinds\" holds " + kind.dump() + " (1 and 6, each at most once)"};
  }
  if (!step.has_events()) return step;
  step.typeId = static_cast<int32_t>(number(node, "typeId", where, 0, INT32_MAX));
  step.offset = static_cast<uint32_t>(number(node, "offset", where, 0, UINT32_MAX));
  if (node.contains("name")) step.name = text(node, "name", where);
  if (node.contains("gated")) {
    if (!node.at("gated").is_boolean()) throw Invalid{where + ": \"gated\" must be true or false"};
    step.gated = node.at("gated").get<bool>();
  }
  if (step.entry) step.exitLine = static_cast<uint32_t>(number(node, "exitLine", where, 1, lines));
  return step;
}

Listing listing_of(const json& node, const Symbols& symbols) {
  Listing listing;
  listing.file = text(node, "file", "it");
  if (listing.file == "." || listing.file == ".." || listing.file.find_first_of("/\\:") != std::string::npos)
    throw Invalid{"\"file\" must be a file name beside the symbol file, not \"" + listing.file + "\""};
  listing.lineCount = static_cast<uint32_t>(number(node, "lines", "it", 1, UINT32_MAX));
  listing.byteCount = number(node, "bytes", "it", 1, kMaxListingBytes);

  const json& blocks = member(node, "blocks", "it");
  if (!blocks.is_array()) throw Invalid{"\"blocks\" must be an array"};
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    const std::string where = "blocks[" + std::to_string(i) + "]";
    ListingBlock block = block_of(blocks[i], where, listing.lineCount);
    if (!listing.blocks.empty() && block.line <= listing.blocks.back().endLine)
      throw Invalid{where + ": " + block.name + " begins inside the block before it"};
    if (listing.block(block.typeId) != nullptr) throw Invalid{where + ": type identifier " + std::to_string(block.typeId) + " twice"};
    if (symbols.block_name(block.typeId).empty())
      throw Invalid{where + ": " + std::to_string(block.typeId) + " is not one of the file's type identifiers"};
    listing.blocks.push_back(std::move(block));
  }

  const json& steps = member(node, "steps", "it");
  if (!steps.is_array()) throw Invalid{"\"steps\" must be an array"};
  // Each event of each instance lands on one statement only.
  std::set<std::tuple<int32_t, uint32_t, int>> events;
  for (std::size_t i = 0; i < steps.size(); ++i) {
    const std::string where = "steps[" + std::to_string(i) + "]";
    ListingStep step = step_of(steps[i], where, listing.lineCount);
    if (!listing.steps.empty() && step.line <= listing.steps.back().endLine)
      throw Invalid{where + ": line " + std::to_string(step.line) + " lies inside the statement before it"};
    const ListingBlock* block = listing.block(step.block);
    if (block == nullptr) throw Invalid{where + ": its block " + std::to_string(step.block) + " is not in \"blocks\""};
    if (!block->covers(step.line) || !block->covers(step.endLine) || (step.entry && !block->covers(step.exitLine))) {
      throw Invalid{where + ": line " + std::to_string(step.line) + " lies outside " + block->name + " (lines " +
                    std::to_string(block->line) + " to " + std::to_string(block->endLine) + ")"};
    }
    for (const ListingInstance& instance : instances_of(symbols, step.block)) {
      if (!step.has_events()) break;
      const uint64_t at = uint64_t{instance.offset} + step.offset;
      if (at >= symbols.dataSize) {
        throw Invalid{where + ": offset " + std::to_string(step.offset) + " lies outside the data area in " +
                      (instance.name.empty() ? block->name : std::string(instance.name))};
      }
      for (int kind : {1, 6}) {
        if ((kind == 1 ? step.step : step.entry) &&
            !events.insert({step.typeId, static_cast<uint32_t>(at), kind}).second) {
          throw Invalid{where + ": its kind-" + std::to_string(kind) + " event at offset " + std::to_string(at) +
                        " is another statement's too"};
        }
      }
    }
    listing.steps.push_back(std::move(step));
  }
  return listing;
}

}  // namespace

const ListingBlock* Listing::block_at(uint32_t at) const {
  for (const ListingBlock& block : blocks)
    if (block.covers(at)) return &block;
  return nullptr;
}

const ListingBlock* Listing::block(int32_t typeId) const {
  for (const ListingBlock& block : blocks)
    if (block.typeId == typeId) return &block;
  return nullptr;
}

const ListingBlock* Listing::find_block(std::string_view name) const {
  for (const ListingBlock& block : blocks)
    if (same_name(block.name, name)) return &block;
  return nullptr;
}

const ListingStep* Listing::step_at(uint32_t at) const {
  const auto found = std::partition_point(steps.begin(), steps.end(), [&](const ListingStep& s) { return s.endLine < at; });
  return found != steps.end() && found->covers(at) ? &*found : nullptr;
}

const ListingStep* Listing::entry_of(const ListingBlock& unit) const {
  const ListingStep* step = step_at(unit.line);
  return step != nullptr && step->unit_entry() && step->block == unit.typeId ? step : nullptr;
}

std::string_view Listing::line(uint32_t number) const {
  return number >= 1 && number <= text.size() ? std::string_view(text[number - 1]) : std::string_view();
}

std::string Listing::statement_at(uint32_t at) const {
  const ListingStep* step = step_at(at);
  const uint32_t first = step != nullptr && !step->unit_entry() ? step->line : at;
  const uint32_t last = step != nullptr && !step->unit_entry() ? step->endLine : at;
  std::string result;
  for (uint32_t n = first; n <= last; ++n) {
    const std::string_view piece = trimmed(line(n), " \t\r");
    if (!piece.empty()) result += (result.empty() ? "" : " ") + std::string(piece);
  }
  return result;
}

std::vector<ListingInstance> instances_of(const Symbols& symbols, int32_t unitTypeId) {
  if (unitTypeId == symbols.programTypeId) return {{"", 0}};
  std::vector<ListingInstance> result;
  for (const Record& record : symbols.records)
    if (record.typeId == unitTypeId) result.push_back({record.name, record.offset});
  return result;
}

Result<Listing> parse_listing(const nlohmann::json& node, const Symbols& symbols) {
  try {
    return listing_of(node, symbols);
  } catch (const Invalid& invalid) {
    return runtime_error(invalid.what);
  }
}

void read_listing_text(Listing& listing, const std::filesystem::path& folder) {
  const std::filesystem::path path = folder / listing.file;
  listing.text.clear();
  auto bytes = read_file_bytes(path, kMaxListingBytes);
  if (!bytes) {
    listing.note = "cannot read the listing " + display_path(path) + ": " + bytes.error().message;
    return;
  }
  std::vector<std::string> lines;
  std::string_view rest(reinterpret_cast<const char*>(bytes->data()), bytes->size());
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.emplace_back(line);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
  }
  if (bytes->size() != listing.byteCount || lines.size() != listing.lineCount) {
    listing.note = "the listing " + display_path(path) + " does not match the symbol file (" +
                   std::to_string(lines.size()) + " lines, " + std::to_string(bytes->size()) +
                   " bytes; the symbol file's: " + std::to_string(listing.lineCount) + " lines, " +
                   std::to_string(listing.byteCount) + " bytes)";
    return;
  }
  listing.text = std::move(lines);
  listing.note.clear();
}

}  // namespace softplc
