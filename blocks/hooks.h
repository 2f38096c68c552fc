// The debug-hook guard. Hooks are on while the entry point's local switch is non-zero, or, when
// it is 0, while the runtime's global switch is non-zero. The switch is read afresh before every
// single hook: a hook callback may turn either switch off, and that must take effect at the very
// next hook, even inside a block.
#pragma once

#include "abi/descriptors.h"
#include "abi/kx_debug.h"

// Type identifiers reported with the hook events.
enum KxTypeId : int32_t {
  KX_TYPE_PROGRAM_CONTROL = 3,
  KX_TYPE_LAG_PT1 = 4,
  KX_TYPE_DIV_REAL = 5,
  KX_TYPE_MOVE_REAL = 6,
  KX_TYPE_TIME_TO_REAL = 7,
  KX_TYPE_SEL_REAL = 8,
  KX_TYPE_SUB_TIME = 9,
  KX_TYPE_TON = 10,
  KX_TYPE_MUL_REAL = 11,
  KX_TYPE_ADD_REAL = 12,
  KX_TYPE_R_TRIG = 13,
  KX_TYPE_RAMP_INT = 14,
  KX_TYPE_REAL_TO_INT = 15,
  KX_TYPE_LIMIT_REAL = 16,
  KX_TYPE_EQ_REAL = 17,
  KX_TYPE_AND_BOOL = 18,
  KX_TYPE_GT_INT = 19,
  KX_TYPE_INT_TO_REAL = 20,
  KX_TYPE_SUB_REAL = 21,
  KX_TYPE_ABS_INT = 22,
  KX_TYPE_LT_INT = 23,
  KX_TYPE_RAMP_REAL = 24,
  KX_TYPE_GT_REAL = 25,
  KX_TYPE_ABS_REAL = 26,
  KX_TYPE_LT_REAL = 27,
  KX_TYPE_EXT_BLOCK = 28,
  KX_TYPE_BLINK_PULSE = 29,
  KX_TYPE_UINT_TO_TIME = 30,
  KX_TYPE_DIV_TIME_INT = 31,
  KX_TYPE_TOF = 32,
  KX_TYPE_NOT = 33,
  KX_TYPE_XOR = 34,
};

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
