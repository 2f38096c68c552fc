// What looks at the cycles: an observer sees each cycle of the engine at fixed points and may act
// between two cycles. The trace writer, the statistics, the error tally, the event printer, the
// online-change schedule and the debugger are observers; a run (run/run.h) adds the ones its plan
// asks for, in the order of run/order.h.
#pragma once

#include <cstdint>

namespace softplc {

class Engine;

// One cycle as the engine ran it.
struct CycleInfo {
  uint64_t index = 0;        // counted from 0
  int64_t timeNs = 0;        // the latched time its timers read
  int64_t deadlineNs = 0;    // when it was due (simulated: its time)
  int64_t executionNs = 0;   // how long the cycle call took, less any hold; measured only when an observer asks
  // How long a debugger held the program: inside this cycle's call (at a stop in a hook), and
  // between the previous cycle and this one; `holds`: the stops that held it, both kinds together.
  int64_t heldNs = 0;
  int64_t heldBeforeNs = 0;
  uint32_t holds = 0;
  uint32_t errorCount = 0;   // errors the cycle recorded in the runtime's error information
  int32_t firstError = 0;    // the code of the first of them
};

// The points of a cycle at which an observer is told; the engine calls each observer only at the
// points it names, so an observer pays nothing at the others.
enum CyclePoint : unsigned {
  kBeforeCycle = 1u << 0,
  kCycleStarting = 1u << 1,
  kAfterCycle = 1u << 2,
  kDeadlinesSkipped = 1u << 3,
  kModuleChanged = 1u << 4,
  kAllPoints = (1u << 5) - 1,
};

class CycleObserver {
 public:
  virtual ~CycleObserver() = default;

  // The points this observer wants (CyclePoint bits), asked once when it is added.
  virtual unsigned points() const { return kAllPoints; }

  // Between two cycles, before cycle `index` waits for its deadline: the place for online changes
  // and for writes into the data area.
  virtual void before_cycle(Engine& engine, uint64_t index) { (void)engine, (void)index; }
  // The clock is latched; the cycle call comes next.
  virtual void cycle_starting(Engine& engine, uint64_t index, int64_t timeNs) { (void)engine, (void)index, (void)timeNs; }
  // Right after the cycle call, in the order the observers were added.
  virtual void after_cycle(Engine& engine, const CycleInfo& cycle) { (void)engine, (void)cycle; }
  // Real time: deadlines that passed without a cycle of their own.
  virtual void deadlines_skipped(Engine& engine, uint64_t count) { (void)engine, (void)count; }
  // An online change replaced the module; the engine's module is the new one.
  virtual void module_changed(Engine& engine) { (void)engine; }

  // Whether this observer needs CycleInfo::executionNs; nobody pays for it otherwise.
  virtual bool wants_execution_time() const { return false; }
};

}  // namespace softplc
