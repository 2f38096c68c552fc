// Waiting for a cycle's deadline. A wait sleeps until an absolute time of the monotonic clock
// (Linux: clock_nanosleep with TIMER_ABSTIME on CLOCK_MONOTONIC; Windows: a high-resolution
// waitable timer where the system has one), so that the time spent waking up and looping never
// adds to it. It may end with a busy wait on the clock for the last stretch before the deadline
// (`spin`): one core's time for a start closer to the deadline than the system's wake-up. Long
// waits are cut into slices of 100 ms, and on Linux a signal ends a sleep at once, so that a stop
// does not wait for a long period to pass. pacer_posix.cpp and pacer_win32.cpp hold the sleeps;
// CMake builds the one that fits.
#pragma once

#include <atomic>
#include <cstdint>

#include "softplc/util/platform.h"

namespace softplc {

class Pacer {
 public:
  explicit Pacer(int64_t spinNs = 0);
  ~Pacer();
  Pacer(const Pacer&) = delete;
  Pacer& operator=(const Pacer&) = delete;

  // Waits until the runtime's clock reads `ns`, or until `stop` is set or a signal interrupts the
  // run.
  void wait_until(int64_t ns, const std::atomic<bool>& stop) const;
  // The same on the steady clock: `ns` counted from `origin` (steady-clock nanoseconds), for a
  // simulated clock kept in step with real time.
  void wait_until_steady(int64_t origin, int64_t ns, const std::atomic<bool>& stop) const;

 private:
  // Waits until the steady clock reads `deadline` (nanoseconds since its epoch).
  void wait(int64_t deadline, const std::atomic<bool>& stop) const;
  // One sleep until the steady clock reads `ns`; it may end earlier (the platform's part, with the
  // constructor and the destructor).
  void sleep_until(int64_t ns) const;

  FineTimerResolution fineTimer_;
  int64_t spinNs_;
  void* timer_ = nullptr;   // Windows: the waitable timer (null: plain sleeps)
};

// The steady clock (std::chrono::steady_clock; CLOCK_MONOTONIC on Linux) in nanoseconds.
int64_t steady_clock_ns();

}  // namespace softplc
