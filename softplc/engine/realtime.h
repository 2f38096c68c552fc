// Real-time scheduling of the cycle thread (run --rt, --rt-priority, --cpu): a fixed real-time
// priority (Linux: SCHED_FIFO; Windows: a time-critical thread in a high-priority process), all of
// the process's memory locked into RAM (Linux: mlockall), and optionally one CPU to run on. What the
// system refuses (no privilege, no such feature) is not an error: the run goes on without it, and
// the refusal is said with its reason. realtime_posix.cpp and realtime_win32.cpp ask the system;
// CMake builds the one that fits.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "softplc/util/result.h"

namespace softplc {

inline constexpr int kMinRealTimePriority = 1;
inline constexpr int kMaxRealTimePriority = 99;
// Above the default of interrupt threads on a real-time kernel (50), below the kernel's own
// watchdog and migration threads (99).
inline constexpr int kDefaultRealTimePriority = 80;

struct RealTimeOptions {
  bool scheduling = false;   // real-time priority and locked memory
  int priority = kDefaultRealTimePriority;
  std::optional<int> cpu;    // the one CPU to run on
};

// Whether this process may run on CPU `cpu`: a usage error naming the CPUs it may use if not.
Status check_cpu(int cpu);

// The CPUs this process may run on, by number, as far as the system can name CPUs (1024 on Linux,
// 32 on 32-bit Windows); nothing when the system does not say.
std::optional<std::vector<bool>> allowed_cpus();

// While alive, the calling thread has what `options` asks for, as far as the system allows; the
// destructor gives back the scheduling, the CPUs and the memory as they were.
class RealTimeThread {
 public:
  explicit RealTimeThread(const RealTimeOptions& options);
  ~RealTimeThread();
  RealTimeThread(const RealTimeThread&) = delete;
  RealTimeThread& operator=(const RealTimeThread&) = delete;

  // What was set up ("SCHED_FIFO priority 80, memory locked, CPU 1"); "" when nothing was.
  std::string summary() const;
  // What could not be set up and why, one sentence each.
  const std::vector<std::string>& refusals() const { return refusals_; }

 private:
  std::vector<std::string> granted_;
  std::vector<std::string> refusals_;
  bool scheduled_ = false;
  bool locked_ = false;
  bool pinned_ = false;
  int previousPolicy_ = 0;
  int previousPriority_ = 0;
  std::vector<unsigned char> previousCpus_;   // the previous affinity, as the system keeps it
};

}  // namespace softplc
