// The host's side of our runtime libraries: what a soft-PLC host calls, beyond the functions that
// the module imports, to give the runtime its clock, its entry points and its debugger.
//
// Framework library (KxApi_VC):
//   - the clock that the timers read: simulated (deterministic, moved only by the host) or the
//     real monotonic clock; the timers read the time latched for the running cycle;
//   - the entry points whose data areas KX_fr_init2 may write: registered by the host after it
//     has queried them from the module; a data area that is not registered is refused;
//   - the message of the last refused call.
// Debug library (KXoplcK_VC):
//   - one handler for the hook events, installed by the host;
//   - the error information of the calling thread's running cycle.
#pragma once

#include "runtime/kx_debug.h"
#include "runtime/kx_framework.h"

struct EntryPointDescriptor;

extern "C" {

// ---- clock ------------------------------------------------------------------------------------
#define KXRT_CLOCK_SIMULATED 0
#define KXRT_CLOCK_MONOTONIC 1

// Selects the clock and sets its origin: the simulated clock starts at 0 ns; the monotonic clock
// counts from the moment of this call. Any other value is refused (result non-zero).
KXAPI_API int32_t KX_CDECL kxrt_clock_select(int32_t source);
KXAPI_API int32_t KX_CDECL kxrt_clock_source(void);
// Simulated clock only (non-zero result otherwise): set the time to an absolute value, or move it
// by a (non-negative) amount, in nanoseconds since the origin. Either also latches the new time.
KXAPI_API int32_t KX_CDECL kxrt_clock_set_ns(int64_t ns);
KXAPI_API int32_t KX_CDECL kxrt_clock_advance_ns(int64_t ns);
// The clock's current time in nanoseconds since its origin (not latched).
KXAPI_API int64_t KX_CDECL kxrt_clock_now_ns(void);
// Latches the current time for the cycle that is about to run; the timers read only the latched
// time, so every timer of one cycle sees the same instant.
KXAPI_API void KX_CDECL kxrt_clock_latch(void);
// The latched time, in nanoseconds and in TIME ticks (1/1193182 s, rounded down).
KXAPI_API int64_t KX_CDECL kxrt_clock_latched_ns(void);
KXAPI_API KX_TIME KX_CDECL kxrt_clock_latched_ticks(void);
// Nanoseconds to ticks, rounded down, exact for the whole int64 range of non-negative values.
KXAPI_API KX_TIME KX_CDECL kxrt_ns_to_ticks(int64_t ns);

// ---- entry points -----------------------------------------------------------------------------
// Registers an entry point: KX_fr_init2 may then write its data area (the descriptor's dataArea
// and dataSize, taken at registration). Refuses a null descriptor, a null data area or a zero
// size, and a data area that overlaps another registered one with a different size.
KXAPI_API int32_t KX_CDECL kxrt_register_entry_point(const EntryPointDescriptor* descriptor);
KXAPI_API int32_t KX_CDECL kxrt_unregister_entry_point(const EntryPointDescriptor* descriptor);
KXAPI_API void KX_CDECL kxrt_unregister_all(void);

// The message of the last call of this library that was refused on this thread ("" if none).
KXAPI_API const char* KX_CDECL kxrt_last_message(void);

// ---- debugger ---------------------------------------------------------------------------------
typedef void(KX_CDECL* kxdbg_enter_handler)(void* user, int32_t typeId, void* address,
                                            int32_t kind, EntryPointDescriptor* descriptor);
typedef void(KX_CDECL* kxdbg_exit_handler)(void* user, EntryPointDescriptor* descriptor);

// Installs the handler of the hook events (null handlers: events are counted and dropped). The
// handler runs on the cycle's thread inside the hook call: while it has not returned, the cycle
// is held there.
KXOPLCK_API void KX_CDECL kxdbg_set_handler(kxdbg_enter_handler enter, kxdbg_exit_handler exit,
                                            void* user);

// Error information of the calling thread's running cycle. kxdbg_begin_cycle clears it and the
// cycle's error count; the host calls it before each cycle.
KXOPLCK_API void KX_CDECL kxdbg_begin_cycle(void);
KXOPLCK_API int32_t KX_CDECL kxdbg_error_code(void);     // the recorded code, 0 when none
KXOPLCK_API int32_t KX_CDECL kxdbg_error_detail(void);
KXOPLCK_API uint32_t KX_CDECL kxdbg_cycle_error_count(void);   // errors recorded since begin
KXOPLCK_API int32_t KX_CDECL kxdbg_cycle_first_error(void);    // first code since begin, 0 if none

// Error codes that the framework library records into the error information.
#define KXRT_ERROR_TIME_OVERFLOW 150   // a TIME result outside the 64-bit range (saturated)
#define KXRT_ERROR_TIME_DIV_BY_ZERO 151   // kxtQwDivQwL by 0 (the result is 0)
}
