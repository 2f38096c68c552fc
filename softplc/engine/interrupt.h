// Ending a run from outside: Ctrl-C (SIGINT), SIGTERM and SIGHUP (on Windows Ctrl-C and Ctrl-Break)
// ask the run to end after the cycle in progress, so that its trace is complete and its report
// printed. While an InterruptGuard lives, these signals only set a flag.
#pragma once

namespace softplc {

class InterruptGuard {
 public:
  InterruptGuard();
  ~InterruptGuard();
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;
};

// Whether a signal asked the run to end, and which ("SIGTERM"); null when none did.
bool interrupted();
const char* interrupting_signal();
// Forgets an interruption that has been dealt with (the debugger's prompt takes Ctrl-C as "stop").
void clear_interruption();

}  // namespace softplc
