#include "softplc/observe/event_printer.h"

#include <charconv>
#include <cstdio>

#include "kxrt.h"
#include "softplc/observe/trace.h"

namespace softplc {

namespace {

constexpr std::size_t kFlushAt = 64 * 1024;

void append_number(std::string& buffer, int64_t value) {
  char text[24];
  buffer.append(text, std::to_chars(text, text + sizeof text, value).ptr);
}

}  // namespace

EventPrinter::EventPrinter(std::ostream& out, Engine& engine)
    : out_(out), engine_(engine), places_(engine.plc().symbols()) {
  open_.reserve(64);
  buffer_.reserve(kFlushAt + 1024);
  kxdbg_set_handler(&on_enter, &on_exit, this);
  engine_.plc().set_hooks(true);
}

EventPrinter::~EventPrinter() {
  engine_.plc().set_hooks(false);
  kxdbg_set_handler(nullptr, nullptr, nullptr);
  flush();
}

void EventPrinter::flush() {
  if (buffer_.empty()) return;
  out_.write(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
  out_.flush();
  buffer_.clear();
}

void EventPrinter::cycle_starting(Engine&, uint64_t index, int64_t timeNs) {
  open_.clear();
  buffer_ += "cycle ";
  append_number(buffer_, static_cast<int64_t>(index));
  buffer_ += " t=";
  char text[32];
  buffer_.append(text, write_seconds(text, timeNs));
  buffer_ += "s\n";
}

void EventPrinter::after_cycle(Engine&, const CycleInfo& cycle) {
  if (cycle.errorCount != 0) {
    buffer_ += "cycle ";
    append_number(buffer_, static_cast<int64_t>(cycle.index));
    buffer_ += ": error ";
    append_number(buffer_, cycle.firstError);
    buffer_ += " (";
    append_number(buffer_, cycle.errorCount);
    buffer_ += " recorded)\n";
  }
  flush();
}

void EventPrinter::module_changed(Engine& engine) {
  open_.clear();
  places_ = PlaceResolver(engine.plc().symbols());
}

void EventPrinter::indent() { buffer_.append(2 * open_.size(), ' '); }

void EventPrinter::enter(int32_t typeId, const void* address, int32_t kind, const EntryPointDescriptor* descriptor) {
  const Place place = places_.resolve(typeId, address, descriptor);
  const std::string_view block = place.block.empty() ? std::string_view("?") : place.block;
  indent();
  buffer_ += "enter kind ";
  append_number(buffer_, kind);
  buffer_ += " type ";
  append_number(buffer_, typeId);
  buffer_ += ' ';
  buffer_ += block;
  if (place.offset) {
    buffer_ += " offset ";
    append_number(buffer_, *place.offset);
  } else {
    char text[32];
    buffer_.append(text, static_cast<std::size_t>(std::snprintf(text, sizeof text, " address %p", address)));
  }
  if (!place.name.empty()) {
    buffer_ += ' ';
    buffer_ += place.name;
  }
  buffer_ += '\n';
  if (kind == KX_EVENT_ENTRY) open_.push_back({block, place.name});
  if (buffer_.size() >= kFlushAt) flush();
}

void EventPrinter::exit() {
  if (open_.empty()) {
    buffer_ += "exit\n";
    return;
  }
  const Open closed = open_.back();
  open_.pop_back();
  indent();
  buffer_ += "exit ";
  buffer_ += closed.block;
  if (!closed.name.empty()) {
    buffer_ += ' ';
    buffer_ += closed.name;
  }
  buffer_ += '\n';
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
