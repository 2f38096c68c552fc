// The debug library: the module's breakpoint hooks, forwarded to the host's handler, and the error
// information of the running cycle.
//
// Error information: one per thread (a cycle runs on one thread from start to end, and hosts may
// run several on different threads). It holds
//   - the current error: the code and detail of the last set since the last clear, and whether
//     anything was set since then (get answers 1 if so, 0 otherwise; a set with code 0 counts);
//   - the cycle's record, cleared only by kxdbg_begin_cycle: how many errors were set, and the
//     code of the first one.
// clr clears the current error, not the cycle's record.
//
// Hooks: Enter and Exit read the handler afresh on every call and call it outside the lock, so a
// handler may replace or clear itself (or the other one) from inside a callback, and the change
// applies from the next event. Both answer 0.
#include <mutex>

#include "kxrt.h"

namespace {

struct ErrorInfo {
  bool recorded = false;
  int32_t code = 0;
  int32_t detail = 0;
  uint32_t count = 0;
  bool has_first = false;
  int32_t first = 0;
};

thread_local ErrorInfo t_error;

struct Handler {
  kxdbg_enter_handler enter = nullptr;
  kxdbg_exit_handler exit = nullptr;
  void* user = nullptr;
  uint32_t dropped = 0;
};

std::mutex g_handler_mutex;
Handler g_handler;

Handler current_handler() {
  std::lock_guard lock(g_handler_mutex);
  return g_handler;
}

void count_dropped() {
  std::lock_guard lock(g_handler_mutex);
  if (g_handler.dropped != UINT32_MAX) ++g_handler.dropped;
}

}  // namespace

extern "C" {

KXOPLCK_API int32_t KX_STDCALL KXoplck_EnterBreakpoint(int32_t typeId, void* address, int32_t kind,
                                                       EntryPointDescriptor* descriptor) {
  const Handler h = current_handler();
  if (h.enter != nullptr) h.enter(h.user, typeId, address, kind, descriptor);
  else count_dropped();
  return 0;
}

KXOPLCK_API int32_t KX_STDCALL KXoplck_ExitBreakpoint(EntryPointDescriptor* descriptor) {
  const Handler h = current_handler();
  if (h.exit != nullptr) h.exit(h.user, descriptor);
  else count_dropped();
  return 0;
}

KXOPLCK_API void KX_STDCALL KXoplck_clrErrorInfo(void) {
  t_error.recorded = false;
  t_error.code = 0;
  t_error.detail = 0;
}

KXOPLCK_API void KX_STDCALL KXoplck_setErrorInfo(int32_t code, int32_t detail) {
  ErrorInfo& e = t_error;
  e.recorded = true;
  e.code = code;
  e.detail = detail;
  if (e.count != UINT32_MAX) ++e.count;
  if (!e.has_first) {
    e.has_first = true;
    e.first = code;
  }
}

KXOPLCK_API int32_t KX_STDCALL KXoplck_getErrorInfo(void) { return t_error.recorded ? 1 : 0; }

KXOPLCK_API void KX_CDECL kxdbg_set_handler(kxdbg_enter_handler enter, kxdbg_exit_handler exit,
                                            void* user) {
  std::lock_guard lock(g_handler_mutex);
  g_handler = Handler{enter, exit, user, 0};
}

KXOPLCK_API uint32_t KX_CDECL kxdbg_dropped_event_count(void) {
  std::lock_guard lock(g_handler_mutex);
  return g_handler.dropped;
}

KXOPLCK_API void KX_CDECL kxdbg_begin_cycle(void) { t_error = ErrorInfo{}; }
KXOPLCK_API int32_t KX_CDECL kxdbg_error_code(void) { return t_error.code; }
KXOPLCK_API int32_t KX_CDECL kxdbg_error_detail(void) { return t_error.detail; }
KXOPLCK_API uint32_t KX_CDECL kxdbg_cycle_error_count(void) { return t_error.count; }
KXOPLCK_API int32_t KX_CDECL kxdbg_cycle_first_error(void) { return t_error.first; }

}  // extern "C"
