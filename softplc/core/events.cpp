#include "softplc/core/events.h"

#include <cstdio>

#include "abi/descriptors.h"
#include "kxrt.h"
#include "softplc/core/symbols.h"
#include "softplc/core/values.h"

namespace softplc {

EventPrinter::EventPrinter(std::ostream& out) : out_(out) { kxdbg_set_handler(&on_enter, &on_exit, this); }

EventPrinter::~EventPrinter() { kxdbg_set_handler(nullptr, nullptr, nullptr); }

void EventPrinter::begin_cycle(uint64_t index, int64_t timeNs) {
  open_.clear();
  out_ << "cycle " << index << " t=" << format_seconds(timeNs) << "s\n";
}

void EventPrinter::enter(int32_t typeId, const void* address, int32_t kind, const EntryPointDescriptor* descriptor) {
  std::string block(block_name(typeId));
  if (block.empty()) block = "?";
  std::string where;
  std::string name;
  const auto* base = descriptor != nullptr ? descriptor->dataArea : nullptr;
  const auto* at = static_cast<const uint8_t*>(address);
  if (base != nullptr && at >= base && at < base + descriptor->dataSize) {
    const auto offset = static_cast<uint32_t>(at - base);
    where = "offset " + std::to_string(offset);
    name = name_for_event(typeId, offset);
  } else {
    char text[32];
    std::snprintf(text, sizeof text, "address %p", address);
    where = text;
  }
  const std::string label = block + (name.empty() ? "" : " " + name);
  out_ << std::string(2 * open_.size(), ' ') << "enter kind " << kind << " type " << typeId << " " << block << " "
       << where << (name.empty() ? "" : " " + name) << "\n";
  if (kind == KX_EVENT_ENTRY) open_.push_back(label);
}

void EventPrinter::exit() {
  if (open_.empty()) {
    out_ << "exit\n";
    return;
  }
  const std::string label = std::move(open_.back());
  open_.pop_back();
  out_ << std::string(2 * open_.size(), ' ') << "exit " << label << "\n";
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
