// The runtime's clock. Two sources: the simulated clock, an int64 count of nanoseconds that only
// the host moves (deterministic, for tests and stepped simulation), and the monotonic clock
// (std::chrono::steady_clock, counted from the kxrt_clock_select call). The host latches the time
// before each cycle; the timers read only what was latched, so all timers of one cycle see the
// same instant, and a cycle is not affected by how long it runs.
//
// Ticks are always converted from the absolute nanosecond count (ns_to_ticks of the latched
// time), never accumulated from per-cycle increments, so rounding cannot build up into drift.
//
// The timers' time base: a tick count that never goes back. Each latch advances it by the ticks
// the latched time moved forward since the previous latch; a latch that goes back (and the new
// origin of kxrt_clock_select) leaves it where it is, so the time the clock went back is never
// counted. Its increments are differences of absolute tick counts, so it does not drift either:
// between two latches that only go forward it moves by exactly the latched ticks' difference. It
// saturates at the int64 maximum.
//
// Threading rule: one thread at a time drives the clock (select, set, advance, latch): the host's
// cycle thread. Everything that reads it (the timers, kxrt_clock_now_ns, kxrt_clock_latched_*)
// does so with atomic loads, from any thread, and never blocks. No call here takes a lock.
#include <chrono>

#include "internal.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

int64_t steady_ns() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(SteadyClock::now().time_since_epoch())
      .count();
}

struct Clock {
  std::atomic<int32_t> source{KXRT_CLOCK_SIMULATED};
  std::atomic<int64_t> simulated_ns{0};
  std::atomic<int64_t> origin_ns{steady_ns()};   // the monotonic clock's origin
  std::atomic<int64_t> latched_ns{0};
  std::atomic<int64_t> latched_ticks{0};
  int64_t previous_ticks = 0;   // of the previous latch; the driving thread's alone

  int64_t now_ns() const {
    if (source.load(std::memory_order_relaxed) == KXRT_CLOCK_SIMULATED) {
      return simulated_ns.load(std::memory_order_relaxed);
    }
    return kxrt::saturating_sub(steady_ns(), origin_ns.load(std::memory_order_relaxed));
  }

  // Latches `ns`. `counts`: the step from the previous latch is time that passed (false for a
  // new origin).
  void latch(int64_t ns, bool counts) {
    const int64_t ticks = kxrt::ns_to_ticks(ns);
    latched_ns.store(ns, std::memory_order_relaxed);
    latched_ticks.store(ticks, std::memory_order_relaxed);
    const int64_t step = kxrt::saturating_sub(ticks, previous_ticks);
    previous_ticks = ticks;
    if (counts && step > 0) {
      const int64_t base = kxrt::g_timer_ticks.load(std::memory_order_relaxed);
      kxrt::g_timer_ticks.store(kxrt::saturating_add(base, step), std::memory_order_release);
    }
    kxrt::g_latches.store(kxrt::g_latches.load(std::memory_order_relaxed) + 1,
                          std::memory_order_release);
  }
};

Clock g_clock;

}  // namespace

std::atomic<int64_t> kxrt::g_timer_ticks{0};
std::atomic<uint32_t> kxrt::g_latches{0};

extern "C" {

KXAPI_API int32_t KX_CDECL kxrt_clock_select(int32_t source) {
  if (source != KXRT_CLOCK_SIMULATED && source != KXRT_CLOCK_MONOTONIC) {
    return kxrt::refuse(KXRT_E_ARGUMENT, "clock: unknown source %d", source);
  }
  g_clock.source.store(source, std::memory_order_relaxed);
  g_clock.simulated_ns.store(0, std::memory_order_relaxed);
  g_clock.origin_ns.store(steady_ns(), std::memory_order_relaxed);
  g_clock.latch(0, false);
  return KXRT_OK;
}

KXAPI_API int32_t KX_CDECL kxrt_clock_source(void) {
  return g_clock.source.load(std::memory_order_relaxed);
}

KXAPI_API int32_t KX_CDECL kxrt_clock_set_ns(int64_t ns) {
  if (g_clock.source.load(std::memory_order_relaxed) != KXRT_CLOCK_SIMULATED) {
    return kxrt::refuse(KXRT_E_ARGUMENT, "clock: set needs the simulated clock");
  }
  g_clock.simulated_ns.store(ns, std::memory_order_relaxed);
  g_clock.latch(ns, true);
  return KXRT_OK;
}

KXAPI_API int32_t KX_CDECL kxrt_clock_advance_ns(int64_t ns) {
  if (g_clock.source.load(std::memory_order_relaxed) != KXRT_CLOCK_SIMULATED) {
    return kxrt::refuse(KXRT_E_ARGUMENT, "clock: advance needs the simulated clock");
  }
  const int64_t now = g_clock.simulated_ns.load(std::memory_order_relaxed);
  int64_t next = 0;
  if (ns < 0 || __builtin_add_overflow(now, ns, &next)) {
    return kxrt::refuse(KXRT_E_ARGUMENT, "clock: cannot advance %lld ns from %lld ns",
                        static_cast<long long>(ns), static_cast<long long>(now));
  }
  g_clock.simulated_ns.store(next, std::memory_order_relaxed);
  g_clock.latch(next, true);
  return KXRT_OK;
}

KXAPI_API int64_t KX_CDECL kxrt_clock_now_ns(void) { return g_clock.now_ns(); }

KXAPI_API int64_t KX_CDECL kxrt_clock_origin_ns(void) {
  return g_clock.origin_ns.load(std::memory_order_relaxed);
}

KXAPI_API void KX_CDECL kxrt_clock_latch(void) { g_clock.latch(g_clock.now_ns(), true); }

KXAPI_API int64_t KX_CDECL kxrt_clock_latched_ns(void) {
  return g_clock.latched_ns.load(std::memory_order_relaxed);
}

KXAPI_API KX_TIME KX_CDECL kxrt_clock_latched_ticks(void) {
  return g_clock.latched_ticks.load(std::memory_order_relaxed);
}

KXAPI_API KX_TIME KX_CDECL kxrt_ns_to_ticks(int64_t ns) { return kxrt::ns_to_ticks(ns); }

}  // extern "C"
