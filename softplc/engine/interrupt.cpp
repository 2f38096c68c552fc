#include "softplc/engine/interrupt.h"

#include <csignal>
#include <iterator>

namespace softplc {

volatile std::sig_atomic_t detail::gInterruptSignal = 0;

namespace {

extern "C" void on_signal(int number) { detail::gInterruptSignal = number; }

#if defined(_WIN32)
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGBREAK};
#else
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
#endif

using Handler = void (*)(int);
Handler gPrevious[sizeof kSignals / sizeof kSignals[0]];
int gGuards = 0;

}  // namespace

InterruptGuard::InterruptGuard() {
  if (gGuards++ != 0) return;
  detail::gInterruptSignal = 0;
  for (std::size_t i = 0; i < std::size(kSignals); ++i) gPrevious[i] = std::signal(kSignals[i], &on_signal);
}

InterruptGuard::~InterruptGuard() {
  if (--gGuards != 0) return;
  for (std::size_t i = 0; i < std::size(kSignals); ++i)
    std::signal(kSignals[i], gPrevious[i] == SIG_ERR ? SIG_DFL : gPrevious[i]);
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

void clear_interruption() { detail::gInterruptSignal = 0; }

}  // namespace softplc
