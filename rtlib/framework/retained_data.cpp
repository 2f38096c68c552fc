// Retained data: the part of a data area that the host keeps across power failure.
//
// The retained-data handle is the 32-bit address of a description: a u32 length in bytes,
// counting itself, then 8-byte entries, little-endian:
//   u32 offset   where a retained variable lies in the data area
//   u32 size     its size in bytes
// The length must be 4 + 8 x (number of entries), with at most kxrt::kMaxRecords entries, and the
// sizes must add up to less than 2^32; otherwise the description is malformed.
//
// The retained-data buffer holds the entries' bytes one after another, in the order of the
// entries, with nothing between them: its size is the sum of the entries' sizes.
//   - KX_fr_QueryRetainedDataSize(handle): that sum; 0 for handle 0 or a malformed description.
//   - KX_fr_GetRetainedData(handle, dataArea, buffer): gathers the entries into the buffer.
//   - KX_fr_SetRetainedData(handle, dataArea, buffer): scatters the buffer into the entries; where
//     entries name the same bytes, the later entry wins.
// Get and Set answer 0 when done. They refuse (non-zero, message, nothing copied) handle 0, a
// malformed description, a data area that is not registered (kxrt_register_entry_point), an entry
// that lies outside it, and a null buffer when there is something to copy.
#include <cstring>

#include "internal.h"

namespace {

struct RetainEntry {
  uint32_t offset;
  uint32_t size;
};

struct Description {
  std::vector<RetainEntry> entries;
  uint32_t total = 0;
};

const uint8_t* description_address(uint32_t handle) {
  return reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(handle));
}

int32_t read_description(uint32_t handle, const char* caller, Description& out) {
  if (handle == 0) return kxrt::refuse(KXRT_E_NULL, "%s: retained-data handle 0", caller);
  std::vector<std::array<uint32_t, 2>> records;
  if (const int32_t status = kxrt::read_records(description_address(handle), caller, records);
      status != KXRT_OK) {
    return status;
  }
  uint64_t total = 0;
  for (const auto& r : records) {
    out.entries.push_back({r[0], r[1]});
    total += r[1];
  }
  if (total > UINT32_MAX) {
    return kxrt::refuse(KXRT_E_MALFORMED, "%s: retained sizes add up to %llu bytes", caller,
                        static_cast<unsigned long long>(total));
  }
  out.total = static_cast<uint32_t>(total);
  return KXRT_OK;
}

// Reads the description and checks it against the registered data area and the buffer; on
// success `area` is the data area.
int32_t prepare(uint32_t handle, const void* dataArea, const void* buffer, const char* caller,
                Description& description, std::span<uint8_t>& area) {
  if (const int32_t status = read_description(handle, caller, description); status != KXRT_OK) {
    return status;
  }
  const auto found = kxrt::find_area(dataArea);
  if (!found) {
    return kxrt::refuse(KXRT_E_UNREGISTERED, "%s: data area %p is not registered", caller, dataArea);
  }
  area = *found;
  for (size_t i = 0; i < description.entries.size(); ++i) {
    const RetainEntry& e = description.entries[i];
    if (kxrt::range_end(e.offset, e.size) > area.size()) {
      return kxrt::refuse(KXRT_E_RANGE,
                          "%s: entry %zu (offset %u, %u bytes) lies outside the %zu-byte data area",
                          caller, i, e.offset, e.size, area.size());
    }
  }
  if (buffer == nullptr && description.total != 0) {
    return kxrt::refuse(KXRT_E_NULL, "%s: null buffer for %u bytes", caller, description.total);
  }
  return KXRT_OK;
}

}  // namespace

extern "C" {

KXAPI_API uint32_t KX_CDECL KX_fr_QueryRetainedDataSize(uint32_t retainDescriptor) {
  if (retainDescriptor == 0) return 0;
  Description description;
  if (read_description(retainDescriptor, "KX_fr_QueryRetainedDataSize", description) != KXRT_OK) {
    return 0;
  }
  return description.total;
}

KXAPI_API uint32_t KX_CDECL KX_fr_GetRetainedData(uint32_t retainDescriptor, const uint8_t* dataArea,
                                                  uint8_t* buffer) {
  Description description;
  std::span<uint8_t> area;
  if (const int32_t status =
          prepare(retainDescriptor, dataArea, buffer, "KX_fr_GetRetainedData", description, area);
      status != KXRT_OK) {
    return static_cast<uint32_t>(status);
  }
  for (const RetainEntry& e : description.entries) {
    if (e.size != 0) std::memmove(buffer, area.data() + e.offset, e.size);
    buffer += e.size;
  }
  return KXRT_OK;
}

KXAPI_API uint32_t KX_CDECL KX_fr_SetRetainedData(uint32_t retainDescriptor, uint8_t* dataArea,
                                                  const uint8_t* buffer) {
  Description description;
  std::span<uint8_t> area;
  if (const int32_t status =
          prepare(retainDescriptor, dataArea, buffer, "KX_fr_SetRetainedData", description, area);
      status != KXRT_OK) {
    return static_cast<uint32_t>(status);
  }
  for (const RetainEntry& e : description.entries) {
    if (e.size != 0) std::memmove(area.data() + e.offset, buffer, e.size);
    buffer += e.size;
  }
  return KXRT_OK;
}

}  // extern "C"
