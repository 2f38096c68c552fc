#include "softplc/engine/pacer.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "kxrt.h"
#include "softplc/engine/interrupt.h"

namespace softplc {

void Pacer::wait_until(int64_t ns, const std::atomic<bool>& stop) const {
  constexpr int64_t kSlice = 100'000'000;
  for (int64_t left = ns - kxrt_clock_now_ns(); left > 0 && !stop.load(std::memory_order_relaxed) && !interrupted();
       left = ns - kxrt_clock_now_ns()) {
    std::this_thread::sleep_for(std::chrono::nanoseconds(std::min(left, kSlice)));
  }
}

}  // namespace softplc
