// The registry of entry points: which data areas the framework library may write, and how large
// each is. The host registers every entry point it has queried from a module before it has the
// module initialise; the calls that take a bare data-area pointer (KX_fr_init2, KX_fr_move, the
// retained-data calls) look the area up here by its base address and refuse an unknown one.
#include <algorithm>
#include <mutex>
#include <vector>

#include "internal.h"
#include "abi/descriptors.h"

namespace {

struct Registration {
  const EntryPointDescriptor* descriptor;
  uint8_t* base;
  uint32_t size;

  uint64_t begin() const { return reinterpret_cast<uintptr_t>(base); }
  uint64_t end() const { return begin() + size; }
};

class Registry {
 public:
  int32_t add(const EntryPointDescriptor* descriptor) {
    if (descriptor == nullptr) return kxrt::refuse(KXRT_E_NULL, "register: null descriptor");
    const Registration entry{descriptor, descriptor->dataArea, descriptor->dataSize};
    if (entry.base == nullptr) return kxrt::refuse(KXRT_E_NULL, "register: null data area");
    if (entry.size == 0) return kxrt::refuse(KXRT_E_ARGUMENT, "register: data size 0");
    if (entry.end() > uint64_t{std::numeric_limits<uintptr_t>::max()} + 1) {
      return kxrt::refuse(KXRT_E_ARGUMENT,
                          "register: data area at %p with %u bytes wraps the address space",
                          static_cast<void*>(entry.base), entry.size);
    }
    std::lock_guard lock(mutex_);
    for (const Registration& other : entries_) {
      if (other.descriptor == descriptor) continue;   // replaced below
      const bool same = other.base == entry.base && other.size == entry.size;
      const bool disjoint = entry.end() <= other.begin() || other.end() <= entry.begin();
      if (!same && !disjoint) {
        return kxrt::refuse(KXRT_E_CONFLICT,
                            "register: data area %p+%u overlaps the registered area %p+%u",
                            static_cast<void*>(entry.base), entry.size,
                            static_cast<void*>(other.base), other.size);
      }
    }
    std::erase_if(entries_, [&](const Registration& r) { return r.descriptor == descriptor; });
    entries_.push_back(entry);
    return KXRT_OK;
  }

  int32_t remove(const EntryPointDescriptor* descriptor) {
    std::lock_guard lock(mutex_);
    if (std::erase_if(entries_, [&](const Registration& r) { return r.descriptor == descriptor; }) == 0) {
      return kxrt::refuse(KXRT_E_UNREGISTERED, "unregister: descriptor %p is not registered",
                          static_cast<const void*>(descriptor));
    }
    return KXRT_OK;
  }

  void clear() {
    std::lock_guard lock(mutex_);
    entries_.clear();
  }

  std::optional<std::span<uint8_t>> find(const void* base) {
    if (base == nullptr) return std::nullopt;
    std::lock_guard lock(mutex_);
    for (const Registration& r : entries_) {
      if (r.base == base) return std::span<uint8_t>(r.base, r.size);
    }
    return std::nullopt;
  }

 private:
  std::mutex mutex_;
  std::vector<Registration> entries_;
};

Registry& registry() {
  static Registry instance;
  return instance;
}

}  // namespace

std::optional<std::span<uint8_t>> kxrt::find_area(const void* base) { return registry().find(base); }

extern "C" {

KXAPI_API int32_t KX_CDECL kxrt_register_entry_point(const EntryPointDescriptor* descriptor) {
  return registry().add(descriptor);
}

KXAPI_API int32_t KX_CDECL kxrt_unregister_entry_point(const EntryPointDescriptor* descriptor) {
  return registry().remove(descriptor);
}

KXAPI_API void KX_CDECL kxrt_unregister_all(void) { registry().clear(); }

}  // extern "C"
