// The signals that end a run on Windows: the C runtime's SIGINT (Ctrl-C), SIGBREAK (Ctrl-Break)
// and SIGTERM.
#include <csignal>
#include <iterator>

#include "softplc/engine/interrupt.h"

namespace softplc {

namespace {

extern "C" void on_signal(int number) { detail::gInterruptSignal = number; }

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGBREAK};
using Handler = void (*)(int);
Handler gPrevious[std::size(kSignals)];

}  // namespace

// The C runtime's signal() has no flags: `endBlockingReads` asks nothing more here.
void detail::take_signals(bool) {
  for (std::size_t i = 0; i < std::size(kSignals); ++i) gPrevious[i] = std::signal(kSignals[i], &on_signal);
}

void detail::give_back_signals() {
  for (std::size_t i = 0; i < std::size(kSignals); ++i)
    std::signal(kSignals[i], gPrevious[i] == SIG_ERR ? SIG_DFL : gPrevious[i]);
}

const char* detail::signal_name(int number) {
  switch (number) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    case SIGBREAK: return "SIGBREAK";
    default: return nullptr;
  }
}

}  // namespace softplc
