// The runtime's clock. Two sources: the simulated clock, an int64 count of nanoseconds that only
// the host moves (deterministic, for tests and stepped simulation), and the monotonic clock
// (std::chrono::steady_clock, counted from the kxrt_clock_select call). The host latches the time
// before each cycle; the timers read only the latched time, so all timers of one cycle see the
// same instant, and a cycle is not affected by how long it runs.
//
// Ticks are always converted from the absolute nanosecond count (ns_to_ticks of the latched
// time), never accumulated from per-cycle increments, so rounding cannot build up into drift.
#include <chrono>
#include <mutex>

#include "internal.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

struct Clock {
  std::mutex mutex;
  int32_t source = KXRT_CLOCK_SIMULATED;
  int64_t simulated_ns = 0;
  SteadyClock::time_point origin = SteadyClock::now();
  int64_t latched_ns = 0;
  int64_t latched_ticks = 0;

  // Callers hold the mutex.
  int64_t now_ns() const {
    if (source == KXRT_CLOCK_SIMULATED) return simulated_ns;
    return std::chrono::duration_cast<std::chrono::nanoseconds>(SteadyClock::now() - origin).count();
  }
  void latch(int64_t ns) {
    latched_ns = ns;
    latched_ticks = kxrt::ns_to_ticks(ns);
  }
};

Clock& the_clock() {
  static Clock instance;
  return instance;
}

}  // namespace

int64_t kxrt::latched_ticks() {
  Clock& c = the_clock();
  std::lock_guard lock(c.mutex);
  return c.latched_ticks;
}

extern "C" {

KXAPI_API int32_t KX_CDECL kxrt_clock_select(int32_t source) {
  if (source != KXRT_CLOCK_SIMULATED && source != KXRT_CLOCK_MONOTONIC) {
    return kxrt::refuse(KXRT_E_ARGUMENT, "clock: unknown source %d", source);
  }
  Clock& c = the_clock();
  std::lock_guard lock(c.mutex);
  c.source = source;
  c.simulated_ns = 0;
  c.origin = SteadyClock::now();
  c.latch(0);
  return KXRT_OK;
}

KXAPI_API int32_t KX_CDECL kxrt_clock_source(void) {
  Clock& c = the_clock();
  std::lock_guard lock(c.mutex);
  return c.source;
}

KXAPI_API int32_t KX_CDECL kxrt_clock_set_ns(int64_t ns) {
  Clock& c = the_clock();
  std::lock_guard lock(c.mutex);
  if (c.source != KXRT_CLOCK_SIMULATED) {
    return kxrt::refuse(KXRT_E_ARGUMENT, "clock: set needs the simulated clock");
  }
  c.simulated_ns = ns;
  c.latch(ns);
  return KXRT_OK;
}

KXAPI_API int32_t KX_CDECL kxrt_clock_advance_ns(int64_t ns) {
  Clock& c = the_clock();
  std::lock_guard lock(c.mutex);
  if (c.source != KXRT_CLOCK_SIMULATED) {
    return kxrt::refuse(KXRT_E_ARGUMENT, "clock: advance needs the simulated clock");
  }
  int64_t next = 0;
  if (ns < 0 || __builtin_add_overflow(c.simulated_ns, ns, &next)) {
    return kxrt::refuse(KXRT_E_ARGUMENT, "clock: cannot advance %lld ns from %lld ns",
                        static_cast<long long>(ns), static_cast<long long>(c.simulated_ns));
  }
  c.simulated_ns = next;
  c.latch(next);
  return KXRT_OK;
}

KXAPI_API int64_t KX_CDECL kxrt_clock_now_ns(void) {
  Clock& c = the_clock();
  std::lock_guard lock(c.mutex);
  return c.now_ns();
}

KXAPI_API void KX_CDECL kxrt_clock_latch(void) {
  Clock& c = the_clock();
  std::lock_guard lock(c.mutex);
  c.latch(c.now_ns());
}

KXAPI_API int64_t KX_CDECL kxrt_clock_latched_ns(void) {
  Clock& c = the_clock();
  std::lock_guard lock(c.mutex);
  return c.latched_ns;
}

KXAPI_API KX_TIME KX_CDECL kxrt_clock_latched_ticks(void) { return kxrt::latched_ticks(); }

KXAPI_API KX_TIME KX_CDECL kxrt_ns_to_ticks(int64_t ns) { return kxrt::ns_to_ticks(ns); }

}  // extern "C"
