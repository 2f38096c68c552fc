// The busy wait of the test fixture CCodePublic_slow (a module built from the same sources with
// KX_SLOW_CYCLE_FIXTURE, for the tests of the task watchdog and of a service's watchdog): while
// ExtIn8 is TRUE, every cycle spends ExtIn1 milliseconds (up to 32767) awake before it returns, as
// a program caught in a long loop would.
#include <chrono>

#include "app/program.h"

void kx_slow_cycle(const DataArea* vars) {
  if (!vars->ExtIn8 || vars->ExtIn1 <= 0) return;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(vars->ExtIn1);
  while (std::chrono::steady_clock::now() < end) {
  }
}
