// Waiting for a cycle's deadline on the runtime's clock.
#pragma once

#include <atomic>
#include <cstdint>

#include "softplc/util/platform.h"

namespace softplc {

class Pacer {
 public:
  // Sleeps until the runtime's clock reads `ns`, or until `stop` is set or a signal interrupts the
  // run. Some systems end a sleep early, so the clock has the last word; long waits are cut into
  // slices of 100 ms so that a stop does not wait for a long period to pass.
  void wait_until(int64_t ns, const std::atomic<bool>& stop) const;
  // The same on the steady clock: `ns` counted from `origin` (steady-clock nanoseconds), for a
  // simulated clock kept in step with real time.
  void wait_until_steady(int64_t origin, int64_t ns, const std::atomic<bool>& stop) const;

 private:
  FineTimerResolution fineTimer_;
};

}  // namespace softplc
