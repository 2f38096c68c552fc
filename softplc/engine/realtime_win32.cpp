// Real-time scheduling on Windows: a time-critical thread in a high-priority process, and a thread
// affinity mask. Windows has no way to lock a whole process's memory.
#include <windows.h>

#include <cstring>

#include "softplc/engine/realtime.h"

namespace softplc {

std::optional<std::vector<bool>> allowed_cpus() {
  DWORD_PTR process = 0, system = 0;
  if (!GetProcessAffinityMask(GetCurrentProcess(), &process, &system)) return std::nullopt;
  constexpr int kBits = static_cast<int>(sizeof(DWORD_PTR) * 8);
  std::vector<bool> cpus(kBits);
  for (int cpu = 0; cpu < kBits; ++cpu) cpus[cpu] = ((process >> cpu) & 1) != 0;
  return cpus;
}

RealTimeThread::RealTimeThread(const RealTimeOptions& options) {
  if (options.scheduling) {
    previousPolicy_ = static_cast<int>(GetPriorityClass(GetCurrentProcess()));
    previousPriority_ = GetThreadPriority(GetCurrentThread());
    if (SetPriorityClass(GetCurrentProcess(), HIGH_PRIORITY_CLASS) &&
        SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL)) {
      scheduled_ = true;
      granted_.push_back("time-critical thread priority");
    } else {
      refusals_.push_back("cannot raise the thread's priority (error " + std::to_string(GetLastError()) + ")");
    }
    refusals_.push_back("memory is not locked (Windows has no way to lock a whole process)");
  }
  if (options.cpu) {
    const DWORD_PTR previous = SetThreadAffinityMask(GetCurrentThread(), DWORD_PTR{1} << *options.cpu);
    if (previous != 0) {
      pinned_ = true;
      previousCpus_.resize(sizeof previous);
      std::memcpy(previousCpus_.data(), &previous, sizeof previous);
      granted_.push_back("CPU " + std::to_string(*options.cpu));
    } else {
      refusals_.push_back("cannot run on CPU " + std::to_string(*options.cpu) + " alone (error " +
                          std::to_string(GetLastError()) + ")");
    }
  }
}

RealTimeThread::~RealTimeThread() {
  if (scheduled_) {
    SetThreadPriority(GetCurrentThread(), previousPriority_);
    SetPriorityClass(GetCurrentProcess(), static_cast<DWORD>(previousPolicy_));
  }
  if (pinned_) {
    DWORD_PTR previous = 0;
    std::memcpy(&previous, previousCpus_.data(), sizeof previous);
    SetThreadAffinityMask(GetCurrentThread(), previous);
  }
}

}  // namespace softplc
