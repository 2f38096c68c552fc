#include "softplc/engine/interrupt.h"

#include <csignal>
#include <iterator>

namespace softplc {

volatile std::sig_atomic_t detail::gInterruptSignal = 0;

namespace {

extern "C" void on_signal(int number) { detail::gInterruptSignal = number; }

#if defined(_WIN32)
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGBREAK};
using Handler = void (*)(int);
Handler gPrevious[std::size(kSignals)];
#else
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction gPrevious[std::size(kSignals)];
#endif
int gGuards = 0;

}  // namespace

InterruptGuard::InterruptGuard(bool endBlockingReads) {
  if (gGuards++ != 0) return;
  detail::gInterruptSignal = 0;
#if defined(_WIN32)
  (void)endBlockingReads;
  for (std::size_t i = 0; i < std::size(kSignals); ++i) gPrevious[i] = std::signal(kSignals[i], &on_signal);
#else
  struct sigaction action {};
  action.sa_handler = &on_signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = endBlockingReads ? 0 : SA_RESTART;
  for (std::size_t i = 0; i < std::size(kSignals); ++i) sigaction(kSignals[i], &action, &gPrevious[i]);
#endif
}

InterruptGuard::~InterruptGuard() {
  if (--gGuards != 0) return;
#if defined(_WIN32)
  for (std::size_t i = 0; i < std::size(kSignals); ++i)
    std::signal(kSignals[i], gPrevious[i] == SIG_ERR ? SIG_DFL : gPrevious[i]);
#else
  for (std::size_t i = 0; i < std::size(kSignals); ++i) sigaction(kSignals[i], &gPrevious[i], nullptr);
#endif
}

const char* interrupting_signal() {
  switch (detail::gInterruptSignal) {
    case 0: return nullptr;
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
#if defined(_WIN32)
    case SIGBREAK: return "SIGBREAK";
#else
    case SIGHUP: return "SIGHUP";
#endif
    default: return "a signal";
  }
}

bool ending_signal() { return interrupted() && detail::gInterruptSignal != SIGINT; }

void clear_interruption() {
  if (detail::gInterruptSignal == SIGINT) detail::gInterruptSignal = 0;
}

}  // namespace softplc
