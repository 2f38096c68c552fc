// The debug-hook guard. Hooks are on while the entry point's local switch is non-zero, or, when
// it is 0, while the runtime's global switch is non-zero. The switch is read afresh before every
// single hook: a hook callback may turn either switch off, and that must take effect at the very
// next hook, even inside a block.
#pragma once

#include "abi/descriptors.h"
#include "abi/kx_debug.h"
#include "app/type_ids.h"   // the type identifiers reported with the hook events

// A globalDebugFlag that the runtime has not stored (still null) reads as "off".
static inline bool kx_hooks_active(const EntryPointDescriptor* d) {
  if (*(const volatile uint32_t*)&d->localDebugFlag != 0) return true;
  volatile uint32_t* global = *(volatile uint32_t* const volatile*)&d->globalDebugFlag;
  return global != nullptr && *global != 0;
}

static inline void kx_enter_hook(int32_t typeId, const void* address, int32_t kind,
                                 EntryPointDescriptor* d) {
  if (kx_hooks_active(d)) KXoplck_EnterBreakpoint(typeId, const_cast<void*>(address), kind, d);
}

static inline void kx_exit_hook(EntryPointDescriptor* d) {
  if (kx_hooks_active(d)) KXoplck_ExitBreakpoint(d);
}
