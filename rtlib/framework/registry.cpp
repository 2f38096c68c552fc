// The registry of entry points: which data areas the framework library may write, and how large
// each is. The host registers every entry point it has queried from a module before it has the
// module initialise; the calls that take a bare data-area pointer (KX_fr_init2, KX_fr_move, the
// retained-data calls) look the area up here by its base address and refuse an unknown one.
//
// It also knows when a data area is in an online change, for KX_fr_init2 to tell a
// re-initialisation (flag 1 on values just moved over: apply the table only) from a cold start
// (flag 1: clear, then apply), by what the host does, in either of two ways:
//   - declared: between kxrt_online_change_begin(successor) and kxrt_online_change_end(successor)
//     (or the successor's unregistration), every init of the successor's data area is a
//     re-initialisation;
//   - seen: the last successful KX_fr_move went into the area and no latch of the clock (no cycle)
//     has come since; the next init of any area forgets that move, and so does the area's
//     unregistration, but not the registration or unregistration of another entry point. This is what a module's own
//     online-change export does (move, then init), so hosts that declare nothing are served too,
//     as long as the module carries a move table.
// None of these calls is on the cycle's path; the registry's lock is taken only here.
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
  bool in_online_change = false;   // declared by the host

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
    // The last byte must have an address: size - 1 more bytes after base (size is not 0 here).
    if (entry.size - 1 > std::numeric_limits<uintptr_t>::max() - entry.begin()) {
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
    forget_move_unless_registered();
    return KXRT_OK;
  }

  int32_t remove(const EntryPointDescriptor* descriptor) {
    std::lock_guard lock(mutex_);
    if (std::erase_if(entries_, [&](const Registration& r) { return r.descriptor == descriptor; }) == 0) {
      return kxrt::refuse(KXRT_E_UNREGISTERED, "unregister: descriptor %p is not registered",
                          static_cast<const void*>(descriptor));
    }
    forget_move_unless_registered();
    return KXRT_OK;
  }

  void clear() {
    std::lock_guard lock(mutex_);
    entries_.clear();
    moved_ = {};
  }

  int32_t declare_online_change(const EntryPointDescriptor* successor, bool begins, const char* caller) {
    std::lock_guard lock(mutex_);
    for (Registration& r : entries_) {
      if (r.descriptor == successor) {
        r.in_online_change = begins;
        return KXRT_OK;
      }
    }
    return kxrt::refuse(successor == nullptr ? KXRT_E_NULL : KXRT_E_UNREGISTERED,
                        "%s: descriptor %p is not registered", caller,
                        static_cast<const void*>(successor));
  }

  void note_move_into(const void* base) {
    std::lock_guard lock(mutex_);
    moved_ = Move{base, kxrt::g_latches.load(std::memory_order_acquire)};
  }

  bool reinitialises(const void* base) {
    std::lock_guard lock(mutex_);
    const bool just_moved =
        moved_.base == base && moved_.latches == kxrt::g_latches.load(std::memory_order_acquire);
    moved_ = {};
    return just_moved || std::any_of(entries_.begin(), entries_.end(), [&](const Registration& r) {
             return r.base == base && r.in_online_change;
           });
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
  // A remembered move stays while its data area is registered: registering or unregistering
  // another entry point (the host registers the new module's entry points, or lets go of the old
  // module's, between the move and the re-initialisation) must not turn the re-initialisation
  // into a cold start that clears the values just moved in. Once no registration has that area
  // (its entry point unregistered, or registered again elsewhere), the move is forgotten.
  void forget_move_unless_registered() {
    if (std::none_of(entries_.begin(), entries_.end(), [&](const Registration& r) { return r.base == moved_.base; }))
      moved_ = {};
  }

  // The last successful move: its new data area and the latch count at that time.
  struct Move {
    const void* base = nullptr;
    uint32_t latches = 0;
  };

  std::mutex mutex_;
  std::vector<Registration> entries_;
  Move moved_;
};

Registry& registry() {
  static Registry instance;
  return instance;
}

}  // namespace

std::optional<std::span<uint8_t>> kxrt::find_area(const void* base) { return registry().find(base); }
void kxrt::note_move_into(const void* base) { registry().note_move_into(base); }
bool kxrt::reinitialises(const void* base) { return registry().reinitialises(base); }

extern "C" {

KXAPI_API int32_t KX_CDECL kxrt_register_entry_point(const EntryPointDescriptor* descriptor) {
  return registry().add(descriptor);
}

KXAPI_API int32_t KX_CDECL kxrt_unregister_entry_point(const EntryPointDescriptor* descriptor) {
  return registry().remove(descriptor);
}

KXAPI_API void KX_CDECL kxrt_unregister_all(void) { registry().clear(); }

KXAPI_API int32_t KX_CDECL kxrt_online_change_begin(const EntryPointDescriptor* successor) {
  return registry().declare_online_change(successor, true, "online change begin");
}

KXAPI_API int32_t KX_CDECL kxrt_online_change_end(const EntryPointDescriptor* successor) {
  return registry().declare_online_change(successor, false, "online change end");
}

}  // extern "C"
