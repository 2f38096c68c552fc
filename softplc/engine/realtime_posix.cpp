// Real-time scheduling on Linux: SCHED_FIFO for the calling thread, mlockall, sched_setaffinity.
#include <sched.h>
#include <sys/mman.h>

#include <cerrno>
#include <cstring>

#include "softplc/engine/realtime.h"

namespace softplc {

namespace {

std::string because(int error) { return std::strerror(error); }

// Touches a stretch of stack now, so that the cycles' calls find it mapped (and, locked, resident).
__attribute__((noinline)) void touch_stack() {
  volatile unsigned char stack[256 * 1024];
  for (std::size_t i = 0; i < sizeof stack; i += 4096) stack[i] = 0;
}

}  // namespace

std::optional<std::vector<bool>> allowed_cpus() {
  cpu_set_t allowed;
  CPU_ZERO(&allowed);
  if (sched_getaffinity(0, sizeof allowed, &allowed) != 0) return std::nullopt;
  std::vector<bool> cpus(CPU_SETSIZE);
  for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) cpus[cpu] = CPU_ISSET(cpu, &allowed) != 0;
  return cpus;
}

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

}  // namespace softplc
