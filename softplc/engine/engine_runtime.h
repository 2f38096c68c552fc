// What the engine asks of the runtime libraries and of the machine's time: the clock that the
// module's timers read, waiting for a cycle's deadline, and the error information of a cycle. The
// host's own (library_runtime) is the runtime libraries with the system's clocks and the pacer; a
// test gives one whose time moves only when the engine waits or the test moves it, so that
// deadlines, skipping and pacing can be checked without sleeping. What every cycle calls is a table
// of plain functions (CycleCalls), which the engine calls directly: the runtime libraries' own,
// with nothing in between.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "softplc/util/result.h"

namespace softplc {

enum class ClockKind {
  Simulated,   // cycle k runs at exactly k × period, as fast as the machine allows
  RealTime,    // the monotonic clock; each cycle starts at its deadline
};

// The runtime functions of every cycle.
struct CycleCalls {
  int32_t (*advanceClock)(int64_t ns);   // simulated clock: move it by `ns` and latch it; 0: done
  void (*beginCycle)();                  // clears the error information before a cycle
  uint32_t (*errorCount)();              // the errors the cycle recorded
  int32_t (*firstError)();               // the code of the first of them
};

class EngineRuntime {
 public:
  virtual ~EngineRuntime() = default;

  // Selects the clock the timers read and sets its origin: the simulated clock starts at 0, the
  // monotonic one counts from now; the latched time becomes 0.
  virtual Status select_clock(ClockKind kind) = 0;
  // What every cycle calls (the simulated clock's step, the error information).
  virtual CycleCalls cycle_calls() const = 0;
  // Why the last call of the clock was refused.
  virtual std::string refusal() const = 0;
  // Monotonic clock: latches the time now for the cycle about to run and gives it.
  virtual int64_t latch_clock() = 0;
  // The monotonic clock's time now, since its origin (not latched).
  virtual int64_t clock_now_ns() const = 0;
  // The steady clock in nanoseconds (execution times, a simulated clock's pace).
  virtual int64_t steady_now_ns() const = 0;
  // Waits until the monotonic clock reads `ns` (since its origin), or the steady clock reads
  // `steadyNs`; a set `stop` or a signal ends the wait early.
  virtual void wait_for_clock(int64_t ns, const std::atomic<bool>& stop) = 0;
  virtual void wait_for_steady(int64_t steadyNs, const std::atomic<bool>& stop) = 0;
};

// The runtime libraries and the system's clocks; the last `spinNs` before a real-time deadline are
// waited for awake.
std::unique_ptr<EngineRuntime> library_runtime(int64_t spinNs);

}  // namespace softplc
