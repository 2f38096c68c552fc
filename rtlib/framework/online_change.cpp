// Online change: moving variable values from a predecessor module's data area into its
// successor's, and carrying variable references (data-area offsets) across.
//
// The move table: a u32 length in bytes, counting itself, then 12-byte entries, little-endian:
//   u32 oldOffset   where the variable lies in the old data area
//   u32 newOffset   where it lies in the new data area
//   u32 size        its size in bytes
// The length must be 4 + 12 x (number of entries), with at most kxrt::kMaxRecords entries, and no
// entry's range may run past offset 2^32 in either area; otherwise the table is malformed.
//
// KX_fr_move(table, old, new) copies every entry's bytes from the old area to the new one. Both
// areas must be registered (kxrt_register_entry_point), and every entry must lie inside both; a
// table that fails any check is refused whole (non-zero result, message) before any byte moves.
// Every entry reads the old values as they were before the move: when the two areas overlap in
// memory (also: are the same area), the old area is copied aside first, so entries may swap or
// shift variables in any order. Bytes of the new area that no entry names keep their values;
// where entries name the same new bytes, the later entry wins. A successful move makes the next
// KX_fr_init2 of the new area a re-initialisation, if no latch comes between (registry.cpp).
//
// KX_fr_mapAddress(table, oldOffset, &newOffset) finds the first entry whose old range
// [oldOffset, oldOffset + size) holds the offset and answers 0 with the same relative place in
// its new range. Otherwise (no entry holds it, a malformed table, a null pointer) it answers
// non-zero and leaves *newOffset untouched.
#include <algorithm>
#include <cstring>

#include "internal.h"

namespace {

struct MoveEntry {
  uint32_t old_offset;
  uint32_t new_offset;
  uint32_t size;
};

int32_t read_move_table(const uint8_t* table, const char* caller, std::vector<MoveEntry>& entries) {
  std::vector<std::array<uint32_t, 3>> records;
  if (const int32_t status = kxrt::read_records(table, caller, records); status != KXRT_OK) {
    return status;
  }
  for (size_t i = 0; i < records.size(); ++i) {
    const MoveEntry e{records[i][0], records[i][1], records[i][2]};
    constexpr uint64_t kOffsetSpace = uint64_t{1} << 32;
    if (kxrt::range_end(e.old_offset, e.size) > kOffsetSpace ||
        kxrt::range_end(e.new_offset, e.size) > kOffsetSpace) {
      return kxrt::refuse(KXRT_E_MALFORMED, "%s: entry %zu (%u -> %u, %u bytes) wraps the offset range",
                          caller, i, e.old_offset, e.new_offset, e.size);
    }
    entries.push_back(e);
  }
  return KXRT_OK;
}

bool overlap(std::span<const uint8_t> a, std::span<const uint8_t> b) {
  const auto a0 = reinterpret_cast<uintptr_t>(a.data()), b0 = reinterpret_cast<uintptr_t>(b.data());
  return a0 < b0 + b.size() && b0 < a0 + a.size();
}

}  // namespace

extern "C" {

KXAPI_API int32_t KX_CDECL KX_fr_move(const uint8_t* moveTable, const uint8_t* oldDataArea,
                                      uint8_t* newDataArea) {
  const auto old_area = kxrt::find_area(oldDataArea);
  if (!old_area) {
    return kxrt::refuse(KXRT_E_UNREGISTERED, "KX_fr_move: old data area %p is not registered",
                        static_cast<const void*>(oldDataArea));
  }
  const auto new_area = kxrt::find_area(newDataArea);
  if (!new_area) {
    return kxrt::refuse(KXRT_E_UNREGISTERED, "KX_fr_move: new data area %p is not registered",
                        static_cast<void*>(newDataArea));
  }
  std::vector<MoveEntry> entries;
  if (const int32_t status = read_move_table(moveTable, "KX_fr_move", entries); status != KXRT_OK) {
    return status;
  }
  for (size_t i = 0; i < entries.size(); ++i) {
    const MoveEntry& e = entries[i];
    if (kxrt::range_end(e.old_offset, e.size) > old_area->size() ||
        kxrt::range_end(e.new_offset, e.size) > new_area->size()) {
      return kxrt::refuse(KXRT_E_RANGE,
                          "KX_fr_move: entry %zu (%u -> %u, %u bytes) lies outside the old "
                          "(%zu bytes) or new (%zu bytes) data area",
                          i, e.old_offset, e.new_offset, e.size, old_area->size(), new_area->size());
    }
  }

  std::vector<uint8_t> copy;
  std::span<const uint8_t> source = *old_area;
  if (overlap(*old_area, *new_area)) {
    copy.assign(old_area->begin(), old_area->end());
    source = copy;
  }
  for (const MoveEntry& e : entries) {
    if (e.size != 0) std::memmove(new_area->data() + e.new_offset, source.data() + e.old_offset, e.size);
  }
  kxrt::note_move_into(newDataArea);
  return KXRT_OK;
}

KXAPI_API int32_t KX_CDECL KX_fr_mapAddress(const uint8_t* moveTable, uint32_t oldOffset,
                                            uint32_t* newOffset) {
  if (newOffset == nullptr) return kxrt::refuse(KXRT_E_NULL, "KX_fr_mapAddress: null result pointer");
  std::vector<MoveEntry> entries;
  if (const int32_t status = read_move_table(moveTable, "KX_fr_mapAddress", entries);
      status != KXRT_OK) {
    return status;
  }
  const auto holder = std::find_if(entries.begin(), entries.end(), [&](const MoveEntry& e) {
    return e.old_offset <= oldOffset && oldOffset - e.old_offset < e.size;
  });
  if (holder == entries.end()) {
    return kxrt::refuse(KXRT_E_NOT_FOUND, "KX_fr_mapAddress: no entry holds old offset %u", oldOffset);
  }
  *newOffset = holder->new_offset + (oldOffset - holder->old_offset);
  return KXRT_OK;
}

}  // extern "C"
