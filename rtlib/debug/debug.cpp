// The debug library: the module's breakpoint hooks, forwarded to the host's handler, and the error
// information of the running cycle.
//
// Threading rule: cycles run on one thread at a time (the host's cycle thread; it may change from
// one cycle to the next when the host hands the cycles over with proper synchronisation). The
// error information is one per process and belongs to the cycle that runs: the module and the
// TIME helpers write it on the cycle's thread, and the host reads it (kxdbg_error_code,
// kxdbg_cycle_*) on that thread after the cycle, or on another thread only after synchronising
// with the cycle's end. Plain variables: a hook-free cycle pays a few instructions per call.
//
// Error information:
//   - the current error: the code and detail of the last set since the last clear, and whether
//     anything was set since then (get answers 1 if so, 0 otherwise; a set with code 0 counts);
//   - the cycle's record, cleared only by kxdbg_begin_cycle: how many errors were set, and the
//     code of the first one.
// clr clears the current error, not the cycle's record.
//
// Hooks: the handler is an immutable record behind one atomic pointer; a missing handler is a
// function that counts the event as dropped, so a hook never tests for one. Enter and Exit load the
// pointer afresh on every call and call the handler with nothing held, so a handler may replace or
// clear itself (or the other one) from inside a callback, from the cycle's thread or any other,
// and the change applies from the next event. A record, once installed, is never freed (a hook on
// another thread may still be reading it); identical handlers share one record, so a host that
// switches between a few handlers does not make the list grow. Both answer 0.
#include <atomic>
#include <deque>
#include <mutex>

#include "kxrt.h"

namespace {

struct ErrorInfo {
  uint32_t recorded = 0;   // non-zero: something was set since the last clear
  int32_t code = 0;        // of the last set; meaningful while recorded
  int32_t detail = 0;
  uint32_t count = 0;      // sets since kxdbg_begin_cycle, saturating
  int32_t first = 0;       // code of the first of them
};

ErrorInfo g_error;

struct Handler {
  kxdbg_enter_handler enter = nullptr;
  kxdbg_exit_handler exit = nullptr;
  void* user = nullptr;
};

std::atomic<uint32_t> g_dropped{0};

// Counted by the cycle's thread only, without a read-modify-write instruction or a lock. A
// diagnostic: a reset by kxdbg_set_handler on another thread in the middle of a count may be lost.
void count_dropped() {
  const uint32_t dropped = g_dropped.load(std::memory_order_relaxed);
  if (dropped != UINT32_MAX) g_dropped.store(dropped + 1, std::memory_order_relaxed);
}

// What stands in for a missing handler: the hooks always have a function to call.
void KX_CDECL drop_enter(void*, int32_t, void*, int32_t, EntryPointDescriptor*) { count_dropped(); }
void KX_CDECL drop_exit(void*, EntryPointDescriptor*) { count_dropped(); }

const Handler kNoHandler{drop_enter, drop_exit, nullptr};
std::atomic<const Handler*> g_handler{&kNoHandler};

// Every handler record installed so far (stable addresses), for kxdbg_set_handler only. Never
// destroyed: a hook may still come during the process's exit.
struct Installed {
  std::mutex mutex;
  std::deque<Handler> records;
};

Installed& installed() {
  static Installed* const instance = new Installed;
  return *instance;
}

}  // namespace

extern "C" {

KXOPLCK_API int32_t KX_STDCALL KXoplck_EnterBreakpoint(int32_t typeId, void* address, int32_t kind,
                                                       EntryPointDescriptor* descriptor) {
  const Handler* h = g_handler.load(std::memory_order_acquire);
  h->enter(h->user, typeId, address, kind, descriptor);
  return 0;
}

KXOPLCK_API int32_t KX_STDCALL KXoplck_ExitBreakpoint(EntryPointDescriptor* descriptor) {
  const Handler* h = g_handler.load(std::memory_order_acquire);
  h->exit(h->user, descriptor);
  return 0;
}

KXOPLCK_API void KX_STDCALL KXoplck_clrErrorInfo(void) { g_error.recorded = 0; }

KXOPLCK_API void KX_STDCALL KXoplck_setErrorInfo(int32_t code, int32_t detail) {
  ErrorInfo& e = g_error;
  e.recorded = 1;
  e.code = code;
  e.detail = detail;
  if (e.count == 0) e.first = code;
  if (e.count != UINT32_MAX) ++e.count;
}

KXOPLCK_API int32_t KX_STDCALL KXoplck_getErrorInfo(void) { return g_error.recorded != 0 ? 1 : 0; }

KXOPLCK_API void KX_CDECL kxdbg_set_handler(kxdbg_enter_handler enter, kxdbg_exit_handler exit,
                                            void* user) {
  const Handler* record = &kNoHandler;
  if (enter != nullptr || exit != nullptr) {
    const Handler wanted{enter != nullptr ? enter : drop_enter, exit != nullptr ? exit : drop_exit, user};
    Installed& list = installed();
    std::lock_guard lock(list.mutex);
    record = nullptr;
    for (const Handler& h : list.records) {
      if (h.enter == wanted.enter && h.exit == wanted.exit && h.user == wanted.user) record = &h;
    }
    if (record == nullptr) record = &list.records.emplace_back(wanted);
  }
  g_handler.store(record, std::memory_order_release);
  g_dropped.store(0, std::memory_order_relaxed);
}

KXOPLCK_API uint32_t KX_CDECL kxdbg_dropped_event_count(void) {
  return g_dropped.load(std::memory_order_relaxed);
}

KXOPLCK_API void KX_CDECL kxdbg_begin_cycle(void) { g_error = ErrorInfo{}; }
KXOPLCK_API int32_t KX_CDECL kxdbg_error_code(void) { return g_error.recorded != 0 ? g_error.code : 0; }
KXOPLCK_API int32_t KX_CDECL kxdbg_error_detail(void) {
  return g_error.recorded != 0 ? g_error.detail : 0;
}
KXOPLCK_API uint32_t KX_CDECL kxdbg_cycle_error_count(void) { return g_error.count; }
KXOPLCK_API int32_t KX_CDECL kxdbg_cycle_first_error(void) { return g_error.first; }

}  // extern "C"
