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
// Hooks: the handler is an immutable record behind one atomic pointer, holding the handler in both
// of its forms. Enter and Exit load the pointer afresh on every call and jump to the record's
// direct form with the module's arguments where they lie (a sibling call: the handler returns
// straight to the module). A handler installed in the direct form is reached so at no further
// cost; one installed with a user pointer has forwarders there that call it with its pointer. A
// missing handler is a function that counts the event as dropped, so a hook never tests for one.
// Nothing is held while a handler runs, so it may replace or clear itself (or the other one) from
// inside a callback, from the cycle's thread or any other, and the change applies from the next
// event. A record, once installed, is never freed (a hook on another thread may still be reading
// it); identical handlers share one record, so a host that switches between a few handlers does
// not make the list grow. Both hooks answer what the direct form answers: 0.
#include <atomic>
#include <cstddef>
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

std::atomic<uint32_t> g_dropped{0};

// Counted by the cycle's thread only, without a read-modify-write instruction or a lock. A
// diagnostic: a reset by kxdbg_set_handler on another thread in the middle of a count may be lost.
void count_dropped() {
  const uint32_t dropped = g_dropped.load(std::memory_order_relaxed);
  if (dropped != UINT32_MAX) g_dropped.store(dropped + 1, std::memory_order_relaxed);
}

}  // namespace

// An installed handler in both forms: the direct one, which the hooks' code (below) jumps through
// (the first two fields), and the user-pointer one. Each half is the host's function in the form
// it was installed in, an adapter or forwarder in the other form, or a dropper in both.
struct KxdbgHandler {
  kxdbg_direct_enter_handler directEnter;
  kxdbg_direct_exit_handler directExit;
  kxdbg_enter_handler enter;
  kxdbg_exit_handler exit;
  void* user;   // the host's user pointer, or (installed in the direct form) the record itself

  bool operator==(const KxdbgHandler&) const = default;
};
#if defined(__i386__)
static_assert(offsetof(KxdbgHandler, directEnter) == 0 && offsetof(KxdbgHandler, directExit) == 4,
              "the hooks jump through the first two words of the record");
#endif

extern "C" {
// What the hooks jump through. A plain word that an aligned load reads whole; the hooks' code
// refers to it by this name.
extern std::atomic<const KxdbgHandler*> kxdbg_current_handler;
}

namespace {

// A missing half: the event is counted as dropped.
int32_t KX_STDCALL drop_enter(int32_t, void*, int32_t, EntryPointDescriptor*) {
  count_dropped();
  return 0;
}
int32_t KX_STDCALL drop_exit(EntryPointDescriptor*) {
  count_dropped();
  return 0;
}
void KX_CDECL drop_user_enter(void*, int32_t, void*, int32_t, EntryPointDescriptor*) { count_dropped(); }
void KX_CDECL drop_user_exit(void*, EntryPointDescriptor*) { count_dropped(); }

// A half installed with a user pointer, in the direct form: the record is loaded again (another
// thread may have replaced it since the hook loaded it; the event then goes to the new handler,
// as it would have a moment later) and its half called with its user pointer.
int32_t KX_STDCALL forward_enter(int32_t typeId, void* address, int32_t kind, EntryPointDescriptor* descriptor) {
  const KxdbgHandler* h = kxdbg_current_handler.load(std::memory_order_acquire);
  h->enter(h->user, typeId, address, kind, descriptor);
  return 0;
}
int32_t KX_STDCALL forward_exit(EntryPointDescriptor* descriptor) {
  const KxdbgHandler* h = kxdbg_current_handler.load(std::memory_order_acquire);
  h->exit(h->user, descriptor);
  return 0;
}

// A half installed in the direct form, in the user-pointer form: the user pointer is the record.
void KX_CDECL adapt_enter(void* user, int32_t typeId, void* address, int32_t kind, EntryPointDescriptor* descriptor) {
  static_cast<const KxdbgHandler*>(user)->directEnter(typeId, address, kind, descriptor);
}
void KX_CDECL adapt_exit(void* user, EntryPointDescriptor* descriptor) {
  static_cast<const KxdbgHandler*>(user)->directExit(descriptor);
}

const KxdbgHandler kNoHandler{drop_enter, drop_exit, drop_user_enter, drop_user_exit, nullptr};

// Every handler record installed so far (stable addresses), for installing only. Never destroyed:
// a hook may still come during the process's exit.
struct Installed {
  std::mutex mutex;
  std::deque<KxdbgHandler> records;
};

Installed& installed() {
  static Installed* const instance = new Installed;
  return *instance;
}

// Installs `wanted` (`selfUser`: its user pointer is its own record), sharing the record of an
// identical earlier handler, and starts the dropped count anew.
void install(KxdbgHandler wanted, bool selfUser) {
  const KxdbgHandler* record = &kNoHandler;
  if (!(wanted == kNoHandler)) {
    Installed& list = installed();
    std::lock_guard lock(list.mutex);
    record = nullptr;
    for (const KxdbgHandler& h : list.records) {
      if (selfUser) wanted.user = const_cast<KxdbgHandler*>(&h);
      if (h == wanted) record = &h;
    }
    if (record == nullptr) {
      KxdbgHandler& added = list.records.emplace_back(wanted);
      if (selfUser) added.user = &added;
      record = &added;
    }
  }
  kxdbg_current_handler.store(record, std::memory_order_release);
  g_dropped.store(0, std::memory_order_relaxed);
}

}  // namespace

extern "C" {

std::atomic<const KxdbgHandler*> kxdbg_current_handler{&kNoHandler};
static_assert(std::atomic<const KxdbgHandler*>::is_always_lock_free &&
              sizeof(std::atomic<const KxdbgHandler*>) == sizeof(const KxdbgHandler*));

#if defined(__i386__)
// The hooks, written out so that they add nothing to the jump: load the record (an aligned load,
// on x86 an acquire) and jump through its field with the module's arguments where they lie. On
// Linux the record's address is taken relative to the code (the call to the next instruction
// gives the code's address; position-independent, no relocation in the text); in the Windows DLL
// the base relocation fixes the absolute address.
#if defined(_WIN32)
#define KXDBG_LOAD_HANDLER "movl _kxdbg_current_handler, %eax\n\t"
#else
#define KXDBG_LOAD_HANDLER                        \
  "call 1f\n"                                     \
  "1:\n\t"                                        \
  ".cfi_adjust_cfa_offset 4\n\t"                  \
  "popl %eax\n\t"                                 \
  ".cfi_adjust_cfa_offset -4\n\t"                 \
  "movl kxdbg_current_handler-1b(%eax), %eax\n\t"
#endif

KXOPLCK_API __attribute__((naked)) int32_t KX_STDCALL KXoplck_EnterBreakpoint(int32_t, void*, int32_t,
                                                                              EntryPointDescriptor*) {
  asm(KXDBG_LOAD_HANDLER "jmp *(%eax)");
}

KXOPLCK_API __attribute__((naked)) int32_t KX_STDCALL KXoplck_ExitBreakpoint(EntryPointDescriptor*) {
  asm(KXDBG_LOAD_HANDLER "jmp *4(%eax)");
}
#else
// The native core (x86-64, for a thread sanitizer; no module calls these there): the same load
// and call, in C++.
KXOPLCK_API int32_t KX_STDCALL KXoplck_EnterBreakpoint(int32_t typeId, void* address, int32_t kind,
                                                       EntryPointDescriptor* descriptor) {
  return kxdbg_current_handler.load(std::memory_order_acquire)->directEnter(typeId, address, kind, descriptor);
}

KXOPLCK_API int32_t KX_STDCALL KXoplck_ExitBreakpoint(EntryPointDescriptor* descriptor) {
  return kxdbg_current_handler.load(std::memory_order_acquire)->directExit(descriptor);
}
#endif

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
  if (enter == nullptr && exit == nullptr) return install(kNoHandler, false);
  install({enter != nullptr ? forward_enter : drop_enter, exit != nullptr ? forward_exit : drop_exit,
           enter != nullptr ? enter : drop_user_enter, exit != nullptr ? exit : drop_user_exit, user},
          false);
}

KXOPLCK_API void KX_CDECL kxdbg_set_direct_handler(kxdbg_direct_enter_handler enter,
                                                   kxdbg_direct_exit_handler exit) {
  if (enter == nullptr && exit == nullptr) return install(kNoHandler, false);
  install({enter != nullptr ? enter : drop_enter, exit != nullptr ? exit : drop_exit,
           enter != nullptr ? adapt_enter : drop_user_enter, exit != nullptr ? adapt_exit : drop_user_exit, nullptr},
          true);
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
