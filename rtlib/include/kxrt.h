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
//   - the error information of the running cycle.
//
// Threading rule: the host runs cycles on one thread at a time (its cycle thread), and drives the
// clock (select, set, advance, latch) and reads the error information on that thread, or on
// another one only after synchronising with it. The cycle's runtime functions take no lock, make
// no system call and allocate nothing: the timers read the latched clock with an atomic load, and
// the error information is one per process. The hook handler may be replaced from any thread.
//
// The encodings the framework library reads (initial-value table, move table, retained-data
// description, timer state) and the rules it applies are described in docs/developers/runtime-libraries.md.
#pragma once

#include "abi/kx_debug.h"
#include "abi/kx_framework.h"

struct EntryPointDescriptor;

extern "C" {

// ---- results ----------------------------------------------------------------------------------
// Every framework call with a status result answers 0 on success; a refusal answers one of these
// codes and leaves a message for kxrt_last_message. A refused call has written nothing.
#define KXRT_OK 0
#define KXRT_E_NULL 1          // a required pointer is null
#define KXRT_E_UNREGISTERED 2  // the data area is not one of a registered entry point
#define KXRT_E_MALFORMED 3     // the table is not well formed (length, code, cut-off entry)
#define KXRT_E_RANGE 4         // the table names bytes outside a data area
#define KXRT_E_NOT_FOUND 5     // KX_fr_mapAddress: no entry holds the old offset
#define KXRT_E_ARGUMENT 6      // an argument outside its allowed values (flag, clock source, ...)
#define KXRT_E_CONFLICT 7      // registration: the data area overlaps another registered one
#define KXRT_E_VERSION 8       // KX_fs_doesTargetVersionMatch: the versions do not match

// KX_fr_init2 flags.
#define KXRT_INIT_WARM 0u   // apply the table only; bytes it passes over keep their values
#define KXRT_INIT_COLD 1u   // clear the whole data area, then apply the table; in an online
                            // change (see kxrt_online_change_begin) apply the table only

// The version check (KX_fs_doesTargetVersionMatch): selector 1 compares the target version that
// the host passes through the module with this runtime's target version, and the interface
// version (major, minor) that the module was generated for with the one this runtime provides.
#define KXRT_VERSION_SELECTOR_TARGET 1u
#define KXRT_TARGET_VERSION 1u
#define KXRT_INTERFACE_VERSION_MAJOR 1u
#define KXRT_INTERFACE_VERSION_MINOR 1u

// ---- clock ------------------------------------------------------------------------------------
#define KXRT_CLOCK_SIMULATED 0
#define KXRT_CLOCK_MONOTONIC 1

// Selects the clock and sets its origin: the simulated clock starts at 0 ns; the monotonic clock
// counts from the moment of this call. The latched time becomes 0 as well. Any other value is
// refused (result non-zero) and changes nothing.
KXAPI_API int32_t KX_CDECL kxrt_clock_select(int32_t source);
KXAPI_API int32_t KX_CDECL kxrt_clock_source(void);
// Simulated clock only (non-zero result otherwise): set the time to an absolute value, or move it
// by a (non-negative) amount, in nanoseconds since the origin. Either also latches the new time.
// A negative amount, or one that would carry the time past the int64 range, is refused.
KXAPI_API int32_t KX_CDECL kxrt_clock_set_ns(int64_t ns);
KXAPI_API int32_t KX_CDECL kxrt_clock_advance_ns(int64_t ns);
// The clock's current time in nanoseconds since its origin (not latched).
KXAPI_API int64_t KX_CDECL kxrt_clock_now_ns(void);
// The monotonic clock's origin: what std::chrono::steady_clock read at kxrt_clock_select, in
// nanoseconds since its epoch (on Linux the CLOCK_MONOTONIC time, for absolute sleeps). The
// monotonic clock's time is the steady clock's minus this.
KXAPI_API int64_t KX_CDECL kxrt_clock_origin_ns(void);
// Latches the current time for the cycle that is about to run; the timers read only the latched
// time, so every timer of one cycle sees the same instant. (The timers count on a time base that
// each latch moves forward by the latched time's forward step: when the clock goes back, timing
// holds until it moves forward again.)
KXAPI_API void KX_CDECL kxrt_clock_latch(void);
// The latched time, in nanoseconds and in TIME ticks (1/1193182 s, rounded down).
KXAPI_API int64_t KX_CDECL kxrt_clock_latched_ns(void);
KXAPI_API KX_TIME KX_CDECL kxrt_clock_latched_ticks(void);
// Nanoseconds to ticks, rounded down (toward minus infinity), exact for the whole int64 range.
KXAPI_API KX_TIME KX_CDECL kxrt_ns_to_ticks(int64_t ns);

// ---- entry points -----------------------------------------------------------------------------
// Registers an entry point: KX_fr_init2, KX_fr_move and the retained-data calls may then work on
// its data area (the descriptor's dataArea and dataSize, taken at registration). Refuses a null
// descriptor, a null data area, a zero size, a data area that wraps around the end of the address
// space, and a data area that overlaps another registered one unless it is the very same area
// (same base and size: entry points may share a data area). Registering a descriptor again
// replaces its earlier registration.
KXAPI_API int32_t KX_CDECL kxrt_register_entry_point(const EntryPointDescriptor* descriptor);
// Non-zero when the descriptor is not registered.
KXAPI_API int32_t KX_CDECL kxrt_unregister_entry_point(const EntryPointDescriptor* descriptor);
KXAPI_API void KX_CDECL kxrt_unregister_all(void);

// ---- online change ----------------------------------------------------------------------------
// Declares an online change into the (registered) successor's data area: from begin to end, a
// KX_fr_init2 with flag 1 on that area is the re-initialisation of the moved values: the table is
// applied without clearing the area first. A host calls begin right before the new module's
// KX_fr_CallReInitFunc (after registering the new entry point) and end right after it, whatever
// it returned. Unregistering the successor ends the change too. Both refuse (non-zero) a
// descriptor that is not registered.
// Without the declaration the runtime still takes flag 1 for a re-initialisation when the last
// KX_fr_move went into that area and no latch came since (a module that carries a move table
// moves first), but a module without a move table needs the declaration.
KXAPI_API int32_t KX_CDECL kxrt_online_change_begin(const EntryPointDescriptor* successor);
KXAPI_API int32_t KX_CDECL kxrt_online_change_end(const EntryPointDescriptor* successor);

// The message of the last call of this library that was refused on this thread ("" if none). A
// later successful call leaves it in place.
KXAPI_API const char* KX_CDECL kxrt_last_message(void);

// ---- debugger ---------------------------------------------------------------------------------
// A handler of the hook events comes in one of two forms.
//
// With a user pointer (cdecl): the library calls it with the pointer given at installation.
typedef void(KX_CDECL* kxdbg_enter_handler)(void* user, int32_t typeId, void* address,
                                            int32_t kind, EntryPointDescriptor* descriptor);
typedef void(KX_CDECL* kxdbg_exit_handler)(void* user, EntryPointDescriptor* descriptor);
// Direct: functions with the hooks' own signature (stdcall, the module's arguments). The hook
// jumps to them, so the handler returns straight to the module and its result is the hook's: it
// answers 0. There is no user pointer: such a handler finds its state by itself. The cheapest
// form, for handlers that run at every event.
typedef int32_t(KX_STDCALL* kxdbg_direct_enter_handler)(int32_t typeId, void* address, int32_t kind,
                                                        EntryPointDescriptor* descriptor);
typedef int32_t(KX_STDCALL* kxdbg_direct_exit_handler)(EntryPointDescriptor* descriptor);

// Installs the handler of the hook events, replacing the one installed before in either form
// (null halves: those events are counted and dropped; both null: no handler). The handler runs
// on the cycle's thread inside the hook call: while it has not returned, the cycle is held
// there. Every hook call reads the handler afresh (one atomic load, no lock), so a handler may
// replace or clear itself (or the other one) from inside a callback, and any thread may replace
// it; the change applies from the next event. These calls themselves may lock and allocate (a
// new handler record); the hooks never do.
KXOPLCK_API void KX_CDECL kxdbg_set_handler(kxdbg_enter_handler enter, kxdbg_exit_handler exit,
                                            void* user);
KXOPLCK_API void KX_CDECL kxdbg_set_direct_handler(kxdbg_direct_enter_handler enter,
                                                   kxdbg_direct_exit_handler exit);
// Hook events that found no handler since the last kxdbg_set_*handler call (or since load).
KXOPLCK_API uint32_t KX_CDECL kxdbg_dropped_event_count(void);

// Error information of the running cycle (one per process; see the threading rule above).
// kxdbg_begin_cycle clears it and the cycle's error count; the host calls it before each cycle.
KXOPLCK_API void KX_CDECL kxdbg_begin_cycle(void);
KXOPLCK_API int32_t KX_CDECL kxdbg_error_code(void);     // the recorded code, 0 when none
KXOPLCK_API int32_t KX_CDECL kxdbg_error_detail(void);
KXOPLCK_API uint32_t KX_CDECL kxdbg_cycle_error_count(void);   // errors recorded since begin
KXOPLCK_API int32_t KX_CDECL kxdbg_cycle_first_error(void);    // first code since begin, 0 if none

// Error codes that the framework library records into the error information.
#define KXRT_ERROR_TIME_OVERFLOW 150   // a TIME result outside the 64-bit range (saturated)
#define KXRT_ERROR_TIME_DIV_BY_ZERO 151   // kxtQwDivQwL by 0 (the result is 0)
// Their detail: the TIME helper that recorded the error.
#define KXRT_DETAIL_TIME_SUB 1   // kxtQwSubQwQw
#define KXRT_DETAIL_TIME_MUL 2   // kxtQwMulQwUl
#define KXRT_DETAIL_TIME_DIV 3   // kxtQwDivQwL
}
