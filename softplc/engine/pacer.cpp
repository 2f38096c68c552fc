#include "softplc/engine/pacer.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "kxrt.h"
#include "softplc/engine/interrupt.h"

namespace softplc {

namespace {

constexpr int64_t kSlice = 100'000'000;

template <class Now>
void wait(int64_t ns, const std::atomic<bool>& stop, Now now) {
  for (int64_t left = ns - now(); left > 0 && !stop.load(std::memory_order_relaxed) && !interrupted(); left = ns - now()) {
    std::this_thread::sleep_for(std::chrono::nanoseconds(std::min(left, kSlice)));
  }
}

}  // namespace

void Pacer::wait_until(int64_t ns, const std::atomic<bool>& stop) const { wait(ns, stop, [] { return kxrt_clock_now_ns(); }); }

void Pacer::wait_until_steady(int64_t origin, int64_t ns, const std::atomic<bool>& stop) const {
  wait(ns, stop, [origin] {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
               .count() -
           origin;
  });
}

}  // namespace softplc
