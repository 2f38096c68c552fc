// The scan engine: it owns the clock (simulated or real time), the deadline policy, the latching of
// the clock before each cycle, the cycle call with its error information, the variables the host
// keeps references to, online changes and the end of a run. Everything else that looks at cycles
// is an observer (observer.h). A run (run/run.h) assembles the observers and runs the engine to its
// limit; the debugger drives the same engine one cycle at a time. The runtime libraries and the
// system's clocks are behind EngineRuntime, and reading a module for an online change behind a
// ModulePreparer, so that a test can run the engine on a fake clock with a module of its own.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "softplc/engine/change_outcome.h"
#include "softplc/engine/change_queue.h"
#include "softplc/engine/engine_runtime.h"
#include "softplc/engine/interrupt.h"
#include "softplc/engine/observer.h"
#include "softplc/plc/plc.h"

namespace softplc {

// Real time: cycles start on absolute deadlines k × period after the start, so a late cycle does not
// shift the ones after it. A cycle that starts a whole period or more after its deadline takes the
// latest deadline that has passed; the ones in between are skipped, not run back to back.
struct SkipLateDeadlines {
  int64_t periodNs = 10'000'000;
};

struct EngineOptions {
  ClockKind clock = ClockKind::Simulated;
  SkipLateDeadlines deadlines;
  // Simulated clock: start cycle k no earlier than k × period of real time after the start, so that
  // the outside (a live channel) sees the program at the pace of its clock. The times the cycles
  // read stay the simulated ones.
  bool paced = false;
  // Real time: the last stretch before each deadline is waited for by reading the clock in a busy
  // loop rather than asleep (0: sleep the whole wait).
  int64_t spinNs = 0;
  int64_t period_ns() const { return deadlines.periodNs; }
};

// How a run ends: after `count` cycles, or (when `deadlines`) with the last of `count` deadlines,
// whether cycles ran at all of them or some were skipped.
struct RunLimit {
  uint64_t count = 1;
  bool deadlines = false;
};

// A variable the host keeps a reference to: an online change maps the reference into the new
// module's data area.
struct HeldVariable {
  Variable variable;
  DataRef reference{};
  // The module that runs now does not know this variable's name (or knows it with another type):
  // it is no longer read.
  bool lost = false;
};

// Reads, checks and loads the module at a path for an online change from `running` (on a thread of
// its own, while `running` stays).
using ModulePreparer =
    std::function<Result<PreparedModule>(const Plc& running, const std::filesystem::path& path)>;

// What an engine is made with besides its module and options; what is left empty is the host's own.
struct EngineServices {
  std::unique_ptr<EngineRuntime> runtime;   // default: library_runtime(options.spinNs)
  ModulePreparer prepare;                   // default: prepare_module, from the module file
};

class Engine {
 public:
  Engine(std::unique_ptr<Plc> plc, EngineOptions options, EngineServices services = {});
  ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  Plc& plc() { return *plc_; }
  const Plc& plc() const { return *plc_; }
  const EngineOptions& options() const { return options_; }
  bool realtime() const { return options_.clock == ClockKind::RealTime; }

  // Observers see the cycles in the order they were added; they are not owned.
  void observe(CycleObserver& observer);

  // Keeps a reference to a variable of the running module; the address stays valid for the
  // engine's life.
  HeldVariable& hold(const Variable& variable);
  std::deque<HeldVariable>& held() { return held_; }

  // Selects the clock and starts it at 0 (the first cycle runs at t=0).
  Status start();

  // Runs the next cycle (in real time after waiting for its deadline). Gives false when no cycle
  // ran: a stop was asked for, or, waiting, the limit's last deadline passed.
  Result<bool> run_cycle(const RunLimit& limit = RunLimit{UINT64_MAX, false});
  // Runs cycles until the limit is reached or a stop is asked for.
  Status run(const RunLimit& limit);
  bool finished(const RunLimit& limit) const;
  // A simulated clock kept in pace: the pace starts again now, so that after a hold (a debugger's
  // stop) the next cycle comes one period on rather than the missed ones back to back.
  void restart_pace();
  // A debugger held the program for `ns` (on the cycle's thread, at a stop inside the cycle call or
  // between two cycles). The hold is held time, not an overrun: the next cycle's deadline is the
  // first one after the hold (real time), the pace starts again (a paced simulated clock), and the
  // cycle's execution time leaves the hold out.
  void note_hold(int64_t ns);

  // Asks the run to end after the cycle in progress (any thread; signals ask too).
  void request_stop() { stop_.store(true, std::memory_order_relaxed); }
  bool stop_requested() const { return stop_.load(std::memory_order_relaxed) || interrupted(); }

  uint64_t cycles() const { return cycles_; }          // cycles run
  uint64_t deadlines() const { return deadline_; }     // deadlines passed (real time)
  std::optional<int64_t> first_time_ns() const { return firstTimeNs_; }
  int64_t last_time_ns() const { return lastTimeNs_; }
  // The run's clock in nanoseconds: the runtime's monotonic clock in real time, a steady clock
  // otherwise (for execution times).
  int64_t now_ns() const;
  EngineRuntime& runtime() { return *runtime_; }

  // Online change: the module at `path` (with its symbol file) replaces the running one between two
  // cycles and takes over its values; every held reference is mapped into it. A refusal leaves the
  // running module and the references as they were.
  //
  // Any thread: asks for the change. The files are read and the library loaded on a thread of
  // their own (change_queue.h); the engine makes the change before the first cycle after that, or,
  // with `beforeCycle`, before that cycle: on the simulated clock exactly then (the run waits for
  // the preparation if it must), in real time as soon after as it is prepared. The request's
  // outcome is set on the engine's thread, before the observers are told of that cycle.
  std::shared_ptr<ChangeRequest> request_change(const std::filesystem::path& path,
                                                std::optional<uint64_t> beforeCycle = std::nullopt);
  // Between two cycles, now: asks for the change and waits for it to be prepared and made (the
  // debugger's `change`). A stop or a signal ends the wait, and the change is not made.
  Result<ChangeOutcome> change_module(const std::filesystem::path& path);

 private:
  void make_changes(uint64_t index);
  void make_change(ChangeRequest& request, uint64_t index);

  std::unique_ptr<Plc> plc_;
  EngineOptions options_;
  std::unique_ptr<EngineRuntime> runtime_;
  CycleCalls calls_;
  ModulePreparer prepare_;
  // The observers by the point they are told of, each list in the order they were added.
  std::vector<CycleObserver*> beforeCycle_;
  std::vector<CycleObserver*> cycleStarting_;
  std::vector<CycleObserver*> afterCycle_;
  std::vector<CycleObserver*> deadlinesSkipped_;
  std::vector<CycleObserver*> moduleChanged_;
  bool timeExecution_ = false;
  // Holds (note_hold): inside the cycle call in progress, since the last cycle ended, and whether
  // the schedule must start again before the next cycle.
  bool inCall_ = false;
  int64_t heldInCall_ = 0;
  int64_t heldBefore_ = 0;
  uint32_t holds_ = 0;
  bool rescheduled_ = false;
  std::deque<HeldVariable> held_;
  std::atomic<bool> stop_{false};
  uint64_t cycles_ = 0;
  uint64_t deadline_ = 0;   // index of the next cycle's deadline: due at deadline_ × period
  std::optional<int64_t> firstTimeNs_;
  int64_t simulatedNs_ = 0;   // the simulated clock's time, which only the engine moves
  int64_t steadyOrigin_ = 0;
  int64_t lastTimeNs_ = 0;
  // After plc_: its thread compares new files with the running module until it ends.
  ChangeQueue changes_;
};

}  // namespace softplc
