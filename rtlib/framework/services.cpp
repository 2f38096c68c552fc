// Small services of the framework library: the message of the last refused call, byte copy, the
// version check and the diagnostic time hook.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "internal.h"

namespace {

// Per thread: a refusal on the host's thread does not overwrite the message of one on a cycle's.
thread_local char t_last_message[256];

}  // namespace

int32_t kxrt::refuse(int32_t code, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vsnprintf(t_last_message, sizeof t_last_message, format, args);
  va_end(args);
  return code;
}

extern "C" {

KXAPI_API const char* KX_CDECL kxrt_last_message(void) { return t_last_message; }

// Copies size bytes and returns destination. Size 0 copies nothing and touches neither pointer
// (they may then be null). Overlapping ranges are copied as if through a temporary buffer.
KXAPI_API void* KX_CDECL kx_memcpy(void* destination, const void* source, uint32_t size) {
  if (size != 0) std::memmove(destination, source, size);
  return destination;
}

// The version check. Selector 1 (KXRT_VERSION_SELECTOR_TARGET) is the only one this runtime
// knows: it matches when
//   - target is 0 (the host names no particular target) or equals KXRT_TARGET_VERSION, and
//   - (a, b), the interface version (major, minor) that the module was generated for, has
//     a == KXRT_INTERFACE_VERSION_MAJOR and b <= KXRT_INTERFACE_VERSION_MINOR.
// Result 0 on a match; otherwise KXRT_E_VERSION (or KXRT_E_ARGUMENT for an unknown selector)
// with a message.
KXAPI_API int32_t KX_CDECL KX_fs_doesTargetVersionMatch(uint32_t selector, uint32_t target,
                                                        uint32_t a, uint32_t b) {
  if (selector != KXRT_VERSION_SELECTOR_TARGET) {
    return kxrt::refuse(KXRT_E_ARGUMENT, "version check: unknown selector %u", selector);
  }
  if (target != 0 && target != KXRT_TARGET_VERSION) {
    return kxrt::refuse(KXRT_E_VERSION, "version check: target %u, this runtime is target %u",
                        target, KXRT_TARGET_VERSION);
  }
  if (a != KXRT_INTERFACE_VERSION_MAJOR || b > KXRT_INTERFACE_VERSION_MINOR) {
    return kxrt::refuse(KXRT_E_VERSION,
                        "version check: module needs interface %u.%u, this runtime has %u.%u", a,
                        b, KXRT_INTERFACE_VERSION_MAJOR, KXRT_INTERFACE_VERSION_MINOR);
  }
  return KXRT_OK;
}

// Imported by the module for its time diagnostics; nothing to do in this runtime.
KXAPI_API void KX_CDECL rtc_diag_timefunc(void) {}

}  // extern "C"
