#include "softplc/symbols/place.h"

#include <cstdio>

#include "abi/descriptors.h"

namespace softplc {

namespace {

// Type identifiers beyond this have no slot of their own in the name table; they are looked up.
constexpr int32_t kDirectTypeIds = 256;

}  // namespace

std::string Place::text() const {
  std::string result = std::to_string(typeId) + " " + (block.empty() ? std::string("?") : std::string(block)) + " at ";
  if (!offset) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "address %p", address);
    return result + buffer;
  }
  if (name.empty()) return result + "offset " + std::to_string(*offset);
  return result + std::string(name) + " (" + std::to_string(*offset) + ")";
}

PlaceResolver::PlaceResolver(const Symbols* symbols) : symbols_(symbols) {
  if (symbols_ == nullptr) return;
  slots_.resize(symbols_->dataSize);
  for (const Variable& variable : symbols_->variables) {
    if (variable.offset < slots_.size() && slots_[variable.offset].variable.empty())
      slots_[variable.offset].variable = variable.name;
  }
  for (const Record& record : symbols_->records) {
    if (record.offset >= slots_.size()) continue;
    Slot& slot = slots_[record.offset];
    if (slot.recordCount == 0) slot.firstRecord = static_cast<uint32_t>(records_.size());
    // Records are sorted by offset, so the ones of one slot lie together.
    records_.push_back(&record);
    ++slot.recordCount;
  }
  blocks_.resize(kDirectTypeIds);
  for (const BlockType& type : symbols_->blockTypes)
    if (type.typeId >= 0 && type.typeId < kDirectTypeIds) blocks_[static_cast<std::size_t>(type.typeId)] = type.name;
}

Place PlaceResolver::resolve(int32_t typeId, const void* address, const EntryPointDescriptor* descriptor) const {
  const auto* base = descriptor != nullptr ? descriptor->dataArea : nullptr;
  const auto* at = static_cast<const uint8_t*>(address);
  if (base == nullptr || at < base || at >= base + descriptor->dataSize) {
    Place place;
    place.typeId = typeId;
    place.address = address;
    if (symbols_ != nullptr) place.block = block(typeId);
    return place;
  }
  Place place = resolve(typeId, static_cast<uint32_t>(at - base));
  place.address = address;
  return place;
}

Place PlaceResolver::resolve(int32_t typeId, uint32_t offset) const {
  Place place;
  place.typeId = typeId;
  place.offset = offset;
  if (symbols_ == nullptr) return place;
  place.block = block(typeId);
  // The program's events carry the data area's base, which is not the variable at offset 0.
  if (offset >= slots_.size() || typeId == symbols_->programTypeId) return place;
  const Slot& slot = slots_[offset];
  for (uint32_t i = slot.firstRecord; i < slot.firstRecord + slot.recordCount; ++i) {
    if (records_[i]->typeId == typeId) {
      place.name = records_[i]->name;
      return place;
    }
  }
  place.name = slot.variable;
  return place;
}

std::string_view PlaceResolver::block(int32_t typeId) const {
  return typeId >= 0 && typeId < kDirectTypeIds ? blocks_[static_cast<std::size_t>(typeId)] : symbols_->block_name(typeId);
}

}  // namespace softplc
