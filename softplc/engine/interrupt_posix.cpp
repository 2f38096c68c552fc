// The signals that end a run on Linux: SIGINT, SIGTERM and SIGHUP, taken with sigaction.
#include <signal.h>

#include <iterator>

#include "softplc/engine/interrupt.h"

namespace softplc {

namespace {

extern "C" void on_signal(int number) { detail::gInterruptSignal = number; }

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction gPrevious[std::size(kSignals)];

}  // namespace

// Without SA_RESTART a signal also ends a read that waits for input.
void detail::take_signals(bool endBlockingReads) {
  struct sigaction action {};
  action.sa_handler = &on_signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = endBlockingReads ? 0 : SA_RESTART;
  for (std::size_t i = 0; i < std::size(kSignals); ++i) sigaction(kSignals[i], &action, &gPrevious[i]);
}

void detail::give_back_signals() {
  for (std::size_t i = 0; i < std::size(kSignals); ++i) sigaction(kSignals[i], &gPrevious[i], nullptr);
}

const char* detail::signal_name(int number) {
  switch (number) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
    default: return nullptr;
  }
}

}  // namespace softplc
