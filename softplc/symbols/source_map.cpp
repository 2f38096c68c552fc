#include "softplc/symbols/source_map.h"

#include <algorithm>
#include <tuple>

namespace softplc {

namespace {

template <class A, class B>
bool before(const A& a, const B& b) {
  return std::tie(a.typeId, a.offset, a.kind) < std::tie(b.typeId, b.offset, b.kind);
}

}  // namespace

SourceMap::SourceMap(const Symbols* symbols) {
  if (symbols == nullptr || !symbols->listing) return;
  listing_ = &*symbols->listing;
  for (const ListingStep& step : listing_->steps) {
    if (!step.has_events()) continue;
    const ListingBlock* block = listing_->block(step.block);
    for (const ListingInstance& instance : instances_of(*symbols, step.block)) {
      const uint32_t offset = instance.offset + step.offset;
      if (step.step) entries_.push_back({step.typeId, offset, 1, {&step, block, instance.name}});
      if (step.entry) entries_.push_back({step.typeId, offset, 6, {&step, block, instance.name}});
    }
  }
  std::sort(entries_.begin(), entries_.end(), [](const Entry& a, const Entry& b) { return before(a, b); });
}

const SourceLocation* SourceMap::find(int32_t typeId, uint32_t offset, int32_t kind) const {
  struct Key {
    int32_t typeId;
    uint32_t offset;
    int32_t kind;
  } const key{typeId, offset, kind};
  const auto found = std::lower_bound(entries_.begin(), entries_.end(), key,
                                      [](const Entry& a, const Key& b) { return before(a, b); });
  if (found == entries_.end() || found->typeId != typeId || found->offset != offset || found->kind != kind) return nullptr;
  return &found->where;
}

}  // namespace softplc
