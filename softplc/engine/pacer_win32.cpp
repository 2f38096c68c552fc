// The pacer's sleep on Windows: a waitable timer, high-resolution where the system has one.
#include <windows.h>

#include "softplc/engine/pacer.h"

namespace softplc {

namespace {

#if !defined(CREATE_WAITABLE_TIMER_HIGH_RESOLUTION)
constexpr DWORD CREATE_WAITABLE_TIMER_HIGH_RESOLUTION = 0x00000002;
#endif

}  // namespace

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

}  // namespace softplc
