#include "softplc/engine/realtime.h"

#include <cerrno>
#include <cstring>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sched.h>
#include <sys/mman.h>
#endif

namespace softplc {

namespace {

// "0-3,6": the CPUs of a set, for messages.
template <class Has>
std::string cpu_list(int count, Has has) {
  std::string text;
  for (int cpu = 0; cpu < count; ++cpu) {
    if (!has(cpu)) continue;
    int last = cpu;
    while (last + 1 < count && has(last + 1)) ++last;
    if (!text.empty()) text += ',';
    text += std::to_string(cpu) + (last > cpu ? "-" + std::to_string(last) : "");
    cpu = last;
  }
  return text.empty() ? "none" : text;
}

}  // namespace

#if defined(_WIN32)

Status check_cpu(int cpu) {
  DWORD_PTR process = 0, system = 0;
  if (!GetProcessAffinityMask(GetCurrentProcess(), &process, &system)) return ok_status();
  constexpr int kBits = static_cast<int>(sizeof(DWORD_PTR) * 8);
  const auto has = [&](int n) { return ((process >> n) & 1) != 0; };
  if (cpu < 0 || cpu >= kBits || !has(cpu)) {
    return usage_error("--cpu " + std::to_string(cpu) + ": this process may run on CPUs " + cpu_list(kBits, has));
  }
  return ok_status();
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

#else

Status check_cpu(int cpu) {
  cpu_set_t allowed;
  CPU_ZERO(&allowed);
  if (sched_getaffinity(0, sizeof allowed, &allowed) != 0) return ok_status();
  const auto has = [&](int n) { return CPU_ISSET(n, &allowed) != 0; };
  if (cpu < 0 || cpu >= CPU_SETSIZE || !has(cpu)) {
    return usage_error("--cpu " + std::to_string(cpu) + ": this process may run on CPUs " + cpu_list(CPU_SETSIZE, has));
  }
  return ok_status();
}

namespace {

std::string because(int error) { return std::strerror(error); }

// Touches a stretch of stack now, so that the cycles' calls find it mapped (and, locked, resident).
__attribute__((noinline)) void touch_stack() {
  volatile unsigned char stack[256 * 1024];
  for (std::size_t i = 0; i < sizeof stack; i += 4096) stack[i] = 0;
}

}  // namespace

RealTimeThread::RealTimeThread(const RealTimeOptions& options) {
  if (options.scheduling) {
    // The thread alone (sched_setscheduler with 0 is the calling thread on Linux); children such as
    // gnuplot start with ordinary scheduling.
    sched_param previous{};
    previousPolicy_ = sched_getscheduler(0);
    if (previousPolicy_ >= 0 && sched_getparam(0, &previous) == 0) previousPriority_ = previous.sched_priority;
    sched_param wanted{};
    wanted.sched_priority = options.priority;
    if (previousPolicy_ >= 0 && sched_setscheduler(0, SCHED_FIFO | SCHED_RESET_ON_FORK, &wanted) == 0) {
      scheduled_ = true;
      granted_.push_back("SCHED_FIFO priority " + std::to_string(options.priority));
    } else {
      const int error = errno;
      refusals_.push_back("cannot run at SCHED_FIFO priority " + std::to_string(options.priority) + ": " +
                          because(error) +
                          (error == EPERM ? " (it needs root, CAP_SYS_NICE or an RLIMIT_RTPRIO of at least " +
                                                std::to_string(options.priority) + ")"
                                          : ""));
    }
    if (mlockall(MCL_CURRENT | MCL_FUTURE) == 0) {
      locked_ = true;
      granted_.push_back("memory locked");
    } else {
      const int error = errno;
      refusals_.push_back("cannot lock the memory: " + because(error) +
                          (error == EPERM || error == ENOMEM ? " (it needs root, CAP_IPC_LOCK or a larger RLIMIT_MEMLOCK)"
                                                             : ""));
    }
    touch_stack();
  }
  if (options.cpu) {
    cpu_set_t previous;
    CPU_ZERO(&previous);
    cpu_set_t wanted;
    CPU_ZERO(&wanted);
    CPU_SET(*options.cpu, &wanted);
    if (sched_getaffinity(0, sizeof previous, &previous) == 0 && sched_setaffinity(0, sizeof wanted, &wanted) == 0) {
      pinned_ = true;
      previousCpus_.resize(sizeof previous);
      std::memcpy(previousCpus_.data(), &previous, sizeof previous);
      granted_.push_back("CPU " + std::to_string(*options.cpu));
    } else {
      refusals_.push_back("cannot run on CPU " + std::to_string(*options.cpu) + " alone: " + because(errno));
    }
  }
}

RealTimeThread::~RealTimeThread() {
  if (pinned_) {
    cpu_set_t previous;
    std::memcpy(&previous, previousCpus_.data(), sizeof previous);
    sched_setaffinity(0, sizeof previous, &previous);
  }
  if (locked_) munlockall();
  if (scheduled_) {
    sched_param previous{};
    previous.sched_priority = previousPriority_;
    sched_setscheduler(0, previousPolicy_, &previous);
  }
}

#endif

std::string RealTimeThread::summary() const {
  std::string text;
  for (const std::string& part : granted_) text += (text.empty() ? "" : ", ") + part;
  return text;
}

}  // namespace softplc
