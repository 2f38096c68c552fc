// The task watchdog (--watchdog TIME): a cycle whose call into the module takes longer than TIME is
// reported with its number and duration, and with the action `stop` the run ends after it, with a
// status of its own. A thread of the watchdog looks at the cycle in progress too, so that a cycle
// that does not return at all is reported while it runs; nothing can end it from outside the module,
// but the run stops as soon as it returns.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <thread>

#include "softplc/engine/observer.h"

namespace softplc {

enum class WatchdogAction : uint8_t {
  Stop,     // the run ends after the long cycle (the default, as a PLC's task watchdog stops the task)
  Report,   // the long cycle is reported and the run goes on
};

struct TaskWatchdogOptions {
  std::optional<int64_t> limitNs;   // none: no watchdog
  WatchdogAction action = WatchdogAction::Stop;
};

// What the watchdog saw, for the run's report.
struct WatchdogReport {
  int64_t limitNs = 0;
  uint64_t longCycles = 0;      // cycles that took longer than the limit
  uint64_t longestCycle = 0;    // the longest of them (its index)
  int64_t longestNs = 0;
  bool stopped = false;         // the action stop ended the run after cycle `stoppedAfter`
  uint64_t stoppedAfter = 0;
  int64_t stoppedCycleNs = 0;
};

class TaskWatchdog : public CycleObserver {
 public:
  TaskWatchdog(TaskWatchdogOptions options, std::ostream& err);
  ~TaskWatchdog() override;
  TaskWatchdog(const TaskWatchdog&) = delete;
  TaskWatchdog& operator=(const TaskWatchdog&) = delete;

  unsigned points() const override { return kCycleStarting | kAfterCycle; }
  bool wants_execution_time() const override { return true; }
  void cycle_starting(Engine& engine, uint64_t index, int64_t timeNs) override;
  void after_cycle(Engine& engine, const CycleInfo& cycle) override;

  WatchdogReport report() const { return report_; }
  // Ends the watching thread (the destructor does, at the latest).
  void end();

 private:
  void watch();

  int64_t limitNs_;
  WatchdogAction action_;
  std::ostream& err_;
  WatchdogReport report_;
  // With the action report, messages of long cycles (from either thread) come at most once a
  // second; the long cycles left out are counted into the next message. Guarded by messageMutex_.
  // Returns whether a message may go out now; `count` counts a cycle left out.
  bool may_tell(bool count);
  // Writes a message line; the two threads write one at a time.
  void tell(const std::string& line);
  std::mutex messageMutex_;
  int64_t nextMessageNs_ = 0;
  uint64_t leftOut_ = 0;

  // The cycle in progress, for the watching thread: its index, and its start on the steady clock
  // (0 between cycles).
  std::atomic<uint64_t> index_{0};
  std::atomic<int64_t> startedNs_{0};
  std::atomic<Engine*> engine_{nullptr};
  uint64_t toldWhileRunning_ = UINT64_MAX;   // the watching thread's: the cycle it reported while it ran
  std::mutex mutex_;
  std::condition_variable wake_;
  bool ending_ = false;
  std::thread watcher_;
};

}  // namespace softplc
