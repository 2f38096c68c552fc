#include "softplc/observe/event_printer.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <utility>

#include "abi/descriptors.h"
#include "kxrt.h"
#include "softplc/observe/trace.h"
#include "softplc/symbols/source_map.h"

namespace softplc {

namespace {

constexpr std::size_t kBuffer = 64 * 1024;
// The longest enter line without its indent and names: "enter kind " and the kind, " type " and the
// type identifier, a space, " offset " and the offset (or " address " and a pointer), a space and
// the line's end.
constexpr std::size_t kEnterFixed = 11 + 11 + 6 + 11 + 1 + 9 + 20 + 1 + 1;

char* put(char* out, std::string_view text) {
  std::memcpy(out, text.data(), text.size());
  return out + text.size();
}

// What follows "enter kind K" for a place: " type 13 R_TRIG offset 256 LagResetEdge", without the
// line's end. `block` is the place's block name, "?" when it is unknown.
char* put_enter_tail(char* out, const Place& place, std::string_view block, const void* address) {
  out = put(out, " type ");
  out = std::to_chars(out, out + 11, place.typeId).ptr;
  *out++ = ' ';
  out = put(out, block);
  if (place.offset) {
    out = put(out, " offset ");
    out = std::to_chars(out, out + 10, *place.offset).ptr;
  } else {
    char text[32];
    out = put(out, std::string_view(text, static_cast<std::size_t>(std::snprintf(text, sizeof text, " address %p", address))));
  }
  if (!place.name.empty()) {
    *out++ = ' ';
    out = put(out, place.name);
  }
  return out;
}

char* put_exit(char* out, std::string_view block, std::string_view name) {
  out = put(out, "exit ");
  out = put(out, block);
  if (!name.empty()) {
    *out++ = ' ';
    out = put(out, name);
  }
  return out;
}

// " line 23\n", or the line's end alone for no line.
std::string line_end(uint32_t line) { return line == 0 ? "\n" : " line " + std::to_string(line) + "\n"; }

std::string_view block_of(const Place& place) { return place.block.empty() ? std::string_view("?") : place.block; }

}  // namespace

EventPrinter::EventPrinter(std::ostream& out, Engine& engine)
    : out_(out), engine_(engine), places_(engine.plc().symbols()), buffer_(kBuffer) {
  learn_places();
  open_.reserve(64);
  kxdbg_set_handler(&on_enter, &on_exit, this);
  engine_.plc().set_hooks(true);
}

EventPrinter::~EventPrinter() {
  engine_.plc().set_hooks(false);
  kxdbg_set_handler(nullptr, nullptr, nullptr);
  flush();
}

// Every place whose events the symbol file names: the program at offset 0, each record, each
// variable that an operation reports.
void EventPrinter::learn_places() {
  known_.clear();
  knownAt_.clear();
  const Symbols* symbols = places_.symbols();
  if (symbols == nullptr) return;
  std::vector<std::pair<uint32_t, int32_t>> at{{0, symbols->programTypeId}};
  for (const Record& record : symbols->records) at.emplace_back(record.offset, record.typeId);
  for (const Variable& variable : symbols->variables) {
    if (variable.operation != 0) at.emplace_back(variable.offset, variable.operation);
  }
  std::sort(at.begin(), at.end());
  at.erase(std::unique(at.begin(), at.end()), at.end());
  std::erase_if(at, [&](const auto& place) { return place.first >= symbols->dataSize; });

  knownAt_.assign(symbols->dataSize + 1, 0);
  const SourceMap source(symbols);
  std::string text;
  for (const auto& [offset, typeId] : at) {
    const Place place = places_.resolve(typeId, offset);
    const std::string_view block = block_of(place);
    text.resize(kEnterFixed + block.size() + place.name.size());
    KnownPlace& known = known_.emplace_back();
    known.typeId = typeId;
    const std::string tail(text.data(), put_enter_tail(text.data(), place, block, nullptr));
    const SourceLocation* step = source.find(typeId, offset, KX_EVENT_STEP);
    const SourceLocation* entry = source.find(typeId, offset, KX_EVENT_ENTRY);
    known.enterLine[0] = "enter kind 1" + tail + line_end(step != nullptr ? step->line() : 0);
    known.enterLine[1] = "enter kind 6" + tail + line_end(entry != nullptr ? entry->line() : 0);
    known.enterTail = tail + line_end(0);
    known.exitLine = std::string(text.data(), put_exit(text.data(), block, place.name)) +
                     line_end(entry != nullptr ? entry->exit_line() : 0);
    knownAt_[offset + 1] = static_cast<uint32_t>(known_.size());
  }
  // knownAt_[o + 1] holds the end of the places at o where there are any: carry it forward.
  for (std::size_t i = 1; i < knownAt_.size(); ++i) knownAt_[i] = std::max(knownAt_[i], knownAt_[i - 1]);
}

const EventPrinter::KnownPlace* EventPrinter::known(int32_t typeId, uint32_t offset) const {
  if (offset + 1 >= knownAt_.size()) return nullptr;
  for (uint32_t i = knownAt_[offset]; i < knownAt_[offset + 1]; ++i) {
    if (known_[i].typeId == typeId) return &known_[i];
  }
  return nullptr;
}

char* EventPrinter::room(std::size_t length) {
  if (used_ + length > buffer_.size()) {
    flush();
    if (length > buffer_.size()) buffer_.resize(length);
  }
  return buffer_.data() + used_;
}

char* EventPrinter::indent(char* out) const {
  const std::size_t width = 2 * open_.size();
  std::memset(out, ' ', width);
  return out + width;
}

void EventPrinter::append(std::string_view text) {
  char* out = put(room(text.size()), text);
  used_ = static_cast<std::size_t>(out - buffer_.data());
}

void EventPrinter::flush() {
  if (used_ == 0) return;
  out_.write(buffer_.data(), static_cast<std::streamsize>(used_));
  out_.flush();
  used_ = 0;
}

void EventPrinter::cycle_starting(Engine&, uint64_t index, int64_t timeNs) {
  open_.clear();
  char* out = put(room(64), "cycle ");
  out = std::to_chars(out, out + 20, index).ptr;
  out = put(out, " t=");
  out = put(write_seconds(out, timeNs), "s\n");
  used_ = static_cast<std::size_t>(out - buffer_.data());
}

void EventPrinter::after_cycle(Engine&, const CycleInfo& cycle) {
  if (cycle.errorCount != 0) {
    char* out = put(room(80), "cycle ");
    out = std::to_chars(out, out + 20, cycle.index).ptr;
    out = put(out, ": error ");
    out = std::to_chars(out, out + 11, cycle.firstError).ptr;
    out = put(out, " (");
    out = std::to_chars(out, out + 10, cycle.errorCount).ptr;
    out = put(out, " recorded)\n");
    used_ = static_cast<std::size_t>(out - buffer_.data());
  }
  flush();
}

void EventPrinter::module_changed(Engine& engine) {
  open_.clear();
  places_ = PlaceResolver(engine.plc().symbols());
  learn_places();
}

void EventPrinter::enter(int32_t typeId, const void* address, int32_t kind, const EntryPointDescriptor* descriptor) {
  const KnownPlace* place = nullptr;
  if (descriptor != nullptr && descriptor->dataArea != nullptr) {
    const auto* at = static_cast<const uint8_t*>(address);
    const uint8_t* base = descriptor->dataArea;
    if (at >= base && at < base + descriptor->dataSize) place = known(typeId, static_cast<uint32_t>(at - base));
  }
  char* out;
  if (place != nullptr && (kind == KX_EVENT_STEP || kind == KX_EVENT_ENTRY)) {
    const std::string& line = place->enterLine[kind == KX_EVENT_ENTRY];
    out = put(indent(room(2 * open_.size() + line.size())), line);
    if (kind == KX_EVENT_ENTRY) open_.push_back({place, {}, {}});
  } else if (place != nullptr) {   // a kind this module does not issue
    out = indent(room(2 * open_.size() + 22 + place->enterTail.size()));
    out = put(out, "enter kind ");
    out = std::to_chars(out, out + 11, kind).ptr;
    out = put(out, place->enterTail);
  } else {
    const Place found = places_.resolve(typeId, address, descriptor);
    const std::string_view block = block_of(found);
    out = indent(room(2 * open_.size() + kEnterFixed + block.size() + found.name.size()));
    out = put(out, "enter kind ");
    out = std::to_chars(out, out + 11, kind).ptr;
    out = put_enter_tail(out, found, block, address);
    *out++ = '\n';
    if (kind == KX_EVENT_ENTRY) open_.push_back({nullptr, block, found.name});
  }
  used_ = static_cast<std::size_t>(out - buffer_.data());
}

void EventPrinter::exit() {
  if (open_.empty()) return append("exit\n");
  const Open closed = open_.back();
  open_.pop_back();
  char* out;
  if (closed.known != nullptr) {
    out = put(indent(room(2 * open_.size() + closed.known->exitLine.size())), closed.known->exitLine);
  } else {
    out = indent(room(2 * open_.size() + 7 + closed.block.size() + closed.name.size()));
    out = put_exit(out, closed.block, closed.name);
    *out++ = '\n';
  }
  used_ = static_cast<std::size_t>(out - buffer_.data());
}

void KX_CDECL EventPrinter::on_enter(void* user, int32_t typeId, void* address, int32_t kind,
                                     EntryPointDescriptor* descriptor) {
  // Runs inside the module's hook call: nothing may escape from here.
  try {
    static_cast<EventPrinter*>(user)->enter(typeId, address, kind, descriptor);
  } catch (...) {
  }
}

void KX_CDECL EventPrinter::on_exit(void* user, EntryPointDescriptor*) {
  try {
    static_cast<EventPrinter*>(user)->exit();
  } catch (...) {
  }
}

}  // namespace softplc
