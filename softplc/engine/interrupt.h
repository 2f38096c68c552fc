// Ending a run from outside: Ctrl-C (SIGINT), SIGTERM and SIGHUP (on Windows Ctrl-C and Ctrl-Break)
// ask the run to end after the cycle in progress, so that its trace is complete and its report
// printed. While an InterruptGuard lives, these signals only set a flag.
#pragma once

#include <csignal>

namespace softplc {

namespace detail {
// The number of the signal that asked the run to end, 0 if none did; set by the signal handler.
extern volatile std::sig_atomic_t gInterruptSignal;
}  // namespace detail

class InterruptGuard {
 public:
  InterruptGuard();
  ~InterruptGuard();
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;
};

// Whether a signal asked the run to end (cheap enough to ask before every cycle), and which
// ("SIGTERM"); null when none did.
inline bool interrupted() { return detail::gInterruptSignal != 0; }
const char* interrupting_signal();
// Forgets an interruption that has been dealt with (the debugger's prompt takes Ctrl-C as "stop").
void clear_interruption();

}  // namespace softplc
