// Ending a run from outside: Ctrl-C (SIGINT), SIGTERM and SIGHUP (on Windows Ctrl-C and Ctrl-Break)
// ask the run to end after the cycle in progress, so that its trace is complete and its report
// printed. While an InterruptGuard lives, these signals only set a flag, which every wait of the
// host looks at: the pacer's sleep, a FIFO's open, a write to a slow reader, an online change's
// preparation, the debugger's prompt. interrupt_posix.cpp (signals) and interrupt_win32.cpp (the C
// runtime's signals for the console's Ctrl-C and Ctrl-Break) route them; CMake builds the one that
// fits.
#pragma once

#include <atomic>
#include <csignal>

namespace softplc {

namespace detail {
// The number of the signal that asked the run to end, 0 if none did; set by the signal handler.
// The handler runs on whichever thread the signal reaches (often a channel's), so the flag is an
// atomic, not a volatile sig_atomic_t, which is only for a handler on the thread that reads it; a
// lock-free atomic may be written from a signal handler.
extern std::atomic<int> gInterruptSignal;
static_assert(std::atomic<int>::is_always_lock_free);

// The platform's part: sends the signals that end a run to a handler that sets gInterruptSignal
// (`endBlockingReads`: see InterruptGuard), and back to the handlers they had before.
void take_signals(bool endBlockingReads);
void give_back_signals();
// The name of one of those signals ("SIGTERM"); null for any other.
const char* signal_name(int number);
}  // namespace detail

class InterruptGuard {
 public:
  // `endBlockingReads`: a signal also ends a read that waits for input (Linux: the handlers are
  // installed without SA_RESTART), so that a prompt waiting for a line sees it at once.
  explicit InterruptGuard(bool endBlockingReads = false);
  ~InterruptGuard();
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;
};

// Whether a signal asked the run to end (cheap enough to ask before every cycle), and which
// ("SIGTERM"); null when none did.
inline bool interrupted() { return detail::gInterruptSignal != 0; }
const char* interrupting_signal();
// Whether the signal asks the program to end (SIGTERM, SIGHUP, Ctrl-Break) rather than only to stop
// what it does (Ctrl-C): the debugger takes Ctrl-C as "stop" and ends its session on the others.
bool ending_signal();
// Forgets a Ctrl-C that has been dealt with (the debugger's prompt took it as "stop"); a signal
// that asks the program to end stays.
void clear_interruption();

}  // namespace softplc
