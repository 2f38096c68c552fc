// The pacer's sleep on Linux: clock_nanosleep on an absolute time of CLOCK_MONOTONIC.
#include <time.h>

#include "softplc/engine/pacer.h"

namespace softplc {

namespace {

constexpr int64_t kNsPerSecond = 1'000'000'000;

}  // namespace

Pacer::Pacer(int64_t spinNs) : spinNs_(spinNs) {}

Pacer::~Pacer() = default;

// On Linux std::chrono::steady_clock reads CLOCK_MONOTONIC: its nanoseconds are an absolute time
// of that clock. A signal ends the sleep early (EINTR), which the caller's loop notices.
void Pacer::sleep_until(int64_t ns) const {
  timespec at{};
  at.tv_sec = static_cast<time_t>(ns / kNsPerSecond);
  at.tv_nsec = static_cast<long>(ns % kNsPerSecond);
  clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr);
}

}  // namespace softplc
