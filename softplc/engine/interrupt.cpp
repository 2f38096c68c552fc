#include "softplc/engine/interrupt.h"

namespace softplc {

std::atomic<int> detail::gInterruptSignal{0};

namespace {

int gGuards = 0;

}  // namespace

InterruptGuard::InterruptGuard(bool endBlockingReads) {
  if (gGuards++ != 0) return;
  detail::gInterruptSignal = 0;
  detail::take_signals(endBlockingReads);
}

InterruptGuard::~InterruptGuard() {
  if (--gGuards != 0) return;
  detail::give_back_signals();
}

const char* interrupting_signal() {
  const int number = detail::gInterruptSignal;
  if (number == 0) return nullptr;
  const char* name = detail::signal_name(number);
  return name != nullptr ? name : "a signal";
}

bool ending_signal() { return interrupted() && detail::gInterruptSignal != SIGINT; }

void clear_interruption() {
  // Only a Ctrl-C: a SIGTERM that came meanwhile stays.
  int interrupt = SIGINT;
  detail::gInterruptSignal.compare_exchange_strong(interrupt, 0);
}

}  // namespace softplc
