#include "softplc/engine/pacer.h"

#include <algorithm>
#include <chrono>

#include "kxrt.h"
#include "softplc/engine/interrupt.h"

namespace softplc {

namespace {

constexpr int64_t kSlice = 100'000'000;

bool stopped(const std::atomic<bool>& stop) { return stop.load(std::memory_order_relaxed) || interrupted(); }

}  // namespace

int64_t steady_clock_ns() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void Pacer::wait(int64_t deadline, const std::atomic<bool>& stop) const {
  const int64_t wake = deadline - spinNs_;
  for (int64_t now = steady_clock_ns(); now < wake && !stopped(stop); now = steady_clock_ns()) {
    sleep_until(std::min(wake, now + kSlice));
  }
  // No pause instruction in this loop: in a virtual machine a vCPU that keeps pausing looks like a
  // spinning lock waiter, and the hypervisor may take the CPU away from it for a while.
  while (steady_clock_ns() < deadline && !stopped(stop)) {
  }
}

void Pacer::wait_until(int64_t ns, const std::atomic<bool>& stop) const { wait(kxrt_clock_origin_ns() + ns, stop); }

void Pacer::wait_until_steady(int64_t origin, int64_t ns, const std::atomic<bool>& stop) const {
  wait(origin + ns, stop);
}

}  // namespace softplc
