// What the live channels report of the run besides the data: the module, the clock, the cycle
// statistics and the errors recorded, copied at most ten times a second (and at the end) into a
// report that channel threads may read at any time; and where a debugger holds the cycle, set the
// moment it stops and cleared the moment it lets the cycle go on.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "softplc/engine/engine.h"
#include "softplc/observe/cycle_stats.h"
#include "softplc/observe/error_tally.h"
#include "softplc/observe/statistics.h"
#include "softplc/symbols/source_map.h"

namespace softplc {

// Where the cycle is held at a debugger's stop: the statement of the listing that the stopping event
// lands on.
struct HeldAt {
  uint64_t cycle = 0;       // the cycle that is held
  uint32_t line = 0;        // the listing's line; 0 when the event lands on no statement
  std::string block;        // the unit whose body holds the statement ("Ramp_Int")
  std::string instance;     // the instance it runs in ("IntRamp"); "" in the program
  std::string statement;    // the statement on one line
  std::string event;        // the event as the debugger names it ("enter(1) 20 INT_TO_REAL at ...")
};

// The held place of an event of kind 1 or 6 (its line) or of the ExitHook that closes it (its exit
// line), as `map` finds it; `where` null: an event with no statement (line 0, no block).
HeldAt held_at(const SourceMap& map, const SourceLocation* where, bool exitHook, uint64_t cycle, std::string event);

struct StatusReport {
  // The module and the run.
  ModuleInfo module;
  bool realtime = false;
  int64_t periodNs = 0;
  uint64_t cycles = 0;
  int64_t lastTimeNs = 0;
  // The statistics of the whole run so far.
  DurationSummary execution;
  DurationSummary jitter;   // real time only
  double meanPeriodNs = 0.0;
  uint64_t overruns = 0;
  uint64_t skipped = 0;
  int64_t heldNs = 0;      // how long a debugger held the cycles
  uint64_t holds = 0;      // the stops that held them
  struct ErrorEntry {
    int32_t code = 0;
    std::string meaning;
    uint64_t cycles = 0;
    uint64_t firstCycle = 0;
    int64_t firstTimeNs = 0;
  };
  std::vector<ErrorEntry> errors;
  std::optional<HeldAt> held;   // none while the cycles run
};

class RunStatus : public CycleObserver {
 public:
  RunStatus(Engine& engine, const ErrorTally& errors, const StatsObserver& stats);

  void after_cycle(Engine& engine, const CycleInfo& cycle) override;
  void module_changed(Engine& engine) override;
  // Copies the latest figures now (at the end of the run).
  void refresh(Engine& engine);

  StatusReport report() const;

  // The debugger, from the cycle's thread: the cycle is held at `at` until resume(). Channel threads
  // see both at once.
  void hold(HeldAt at);
  void resume();
  std::optional<HeldAt> held() const;
  // Changes at every hold and resume: a channel that waits for cycles sees a stop without one.
  uint64_t held_version() const { return heldVersion_.load(std::memory_order_acquire); }

 private:
  const ErrorTally& errors_;
  const StatsObserver& stats_;
  int64_t nextRefresh_ = 0;
  mutable std::mutex mutex_;
  StatusReport report_;
  std::atomic<uint64_t> heldVersion_{0};
};

}  // namespace softplc
