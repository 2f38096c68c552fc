#include "softplc/observe/task_watchdog.h"

#include <algorithm>
#include <chrono>
#include <string>

#include "softplc/engine/engine.h"
#include "softplc/engine/pacer.h"
#include "softplc/observe/cycle_stats.h"
#include "softplc/util/text.h"

namespace softplc {

namespace {

constexpr int64_t kMessageEveryNs = 1'000'000'000;

}  // namespace

TaskWatchdog::TaskWatchdog(TaskWatchdogOptions options, std::ostream& err)
    : limitNs_(options.limitNs.value_or(0)), action_(options.action), err_(err) {
  report_.limitNs = limitNs_;
  watcher_ = std::thread([this] { watch(); });
}

TaskWatchdog::~TaskWatchdog() { end(); }

void TaskWatchdog::end() {
  {
    std::lock_guard lock(mutex_);
    ending_ = true;
  }
  wake_.notify_all();
  if (watcher_.joinable()) watcher_.join();
}

void TaskWatchdog::cycle_starting(Engine& engine, uint64_t index, int64_t) {
  engine_.store(&engine, std::memory_order_relaxed);
  index_.store(index, std::memory_order_relaxed);
  startedNs_.store(steady_clock_ns(), std::memory_order_release);
}

void TaskWatchdog::after_cycle(Engine& engine, const CycleInfo& cycle) {
  startedNs_.store(0, std::memory_order_release);
  if (cycle.executionNs <= limitNs_) return;
  if (report_.longCycles++ == 0 || cycle.executionNs > report_.longestNs) {
    report_.longestCycle = cycle.index;
    report_.longestNs = cycle.executionNs;
  }
  const bool stop = action_ == WatchdogAction::Stop;
  if (!stop && !may_tell(true)) return;
  std::string message = "softplc: watchdog: cycle " + std::to_string(cycle.index) + " took " +
                        format_duration(static_cast<double>(cycle.executionNs)) + ", longer than " +
                        format_setting(static_cast<double>(limitNs_));
  {
    std::lock_guard lock(messageMutex_);
    if (leftOut_ != 0) {
      message += " (" + plural(leftOut_, "more such cycle", "more such cycles") + " since the last message)";
      leftOut_ = 0;
    }
  }
  if (stop) {
    message += "; stopping the run";
    report_.stopped = true;
    report_.stoppedAfter = cycle.index;
    report_.stoppedCycleNs = cycle.executionNs;
    engine.request_stop();
  }
  tell(message + "\n");
}

void TaskWatchdog::tell(const std::string& line) {
  std::lock_guard lock(messageMutex_);
  err_ << line << std::flush;
}

bool TaskWatchdog::may_tell(bool count) {
  std::lock_guard lock(messageMutex_);
  const int64_t now = steady_clock_ns();
  if (now < nextMessageNs_) {
    if (count) ++leftOut_;
    return false;
  }
  nextMessageNs_ = now + kMessageEveryNs;
  return true;
}

// Looks at the cycle in progress a few times per watchdog time: a cycle that has run longer than the
// limit is reported once while it runs, and with the action stop the run is asked to end when it
// returns.
void TaskWatchdog::watch() {
  const auto step = std::chrono::nanoseconds(std::clamp<int64_t>(limitNs_ / 2, 5'000'000, 200'000'000));
  std::unique_lock lock(mutex_);
  while (!wake_.wait_for(lock, step, [this] { return ending_; })) {
    const int64_t started = startedNs_.load(std::memory_order_acquire);
    const uint64_t index = index_.load(std::memory_order_relaxed);
    // A cycle that began between the two reads is looked at next time.
    if (started == 0 || startedNs_.load(std::memory_order_acquire) != started) continue;
    if (toldWhileRunning_ == index) continue;
    const int64_t running = steady_clock_ns() - started;
    if (running <= limitNs_) continue;
    // With the action report the limit holds here too; the cycle is counted when it returns, and a
    // cycle that does not return is told once the limit lets a message out.
    if (action_ == WatchdogAction::Report && !may_tell(false)) continue;
    toldWhileRunning_ = index;
    tell("softplc: watchdog: cycle " + std::to_string(index) + " has run for " +
         format_duration(static_cast<double>(running)) + ", longer than " +
         format_setting(static_cast<double>(limitNs_)) + ", and has not returned yet" +
         (action_ == WatchdogAction::Stop ? "; the run stops when it returns\n" : "\n"));
    if (action_ == WatchdogAction::Stop) {
      if (Engine* engine = engine_.load(std::memory_order_relaxed)) engine->request_stop();
    }
  }
}

}  // namespace softplc
