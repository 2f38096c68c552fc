#include "softplc/engine/pacer.h"

#include <algorithm>
#include <chrono>

// Before <windows.h>, whose IN macro would empty the field of that name in the runtime's records.
#include "kxrt.h"
#include "softplc/engine/interrupt.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <time.h>
#endif

namespace softplc {

namespace {

constexpr int64_t kSlice = 100'000'000;
constexpr int64_t kNsPerSecond = 1'000'000'000;

#if defined(_WIN32) && !defined(CREATE_WAITABLE_TIMER_HIGH_RESOLUTION)
constexpr DWORD CREATE_WAITABLE_TIMER_HIGH_RESOLUTION = 0x00000002;
#endif

bool stopped(const std::atomic<bool>& stop) { return stop.load(std::memory_order_relaxed) || interrupted(); }

}  // namespace

int64_t steady_clock_ns() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

#if defined(_WIN32)
// A high-resolution timer where the system has one (Windows 10 1803 and later); an ordinary
// waitable timer (in steps of the timer resolution, 1 ms while FineTimerResolution lives)
// otherwise.
Pacer::Pacer(int64_t spinNs) : spinNs_(spinNs) {
  HANDLE timer = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, TIMER_ALL_ACCESS);
  if (timer == nullptr) timer = CreateWaitableTimerW(nullptr, TRUE, nullptr);
  timer_ = timer;
}

Pacer::~Pacer() {
  if (timer_ != nullptr) CloseHandle(static_cast<HANDLE>(timer_));
}

// Windows timers wait relative to now (their absolute times follow the wall clock, which may jump).
void Pacer::sleep_until(int64_t ns) const {
  const int64_t left = ns - steady_clock_ns();
  if (left <= 0) return;
  if (timer_ != nullptr) {
    LARGE_INTEGER due;
    due.QuadPart = -((left + 99) / 100);   // negative: relative, in 100 ns units
    if (SetWaitableTimer(static_cast<HANDLE>(timer_), &due, 0, nullptr, nullptr, FALSE)) {
      WaitForSingleObject(static_cast<HANDLE>(timer_), INFINITE);
      return;
    }
  }
  Sleep(static_cast<DWORD>((left + 999'999) / 1'000'000));
}
#else
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
#endif

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
