// What the live channels report of the run besides the data: the module, the clock, the cycle
// statistics and the errors recorded, copied at most ten times a second (and at the end) into a
// report that channel threads may read at any time.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "softplc/engine/engine.h"
#include "softplc/observe/cycle_stats.h"
#include "softplc/observe/error_tally.h"
#include "softplc/observe/statistics.h"

namespace softplc {

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
  struct ErrorEntry {
    int32_t code = 0;
    std::string meaning;
    uint64_t cycles = 0;
    uint64_t firstCycle = 0;
    int64_t firstTimeNs = 0;
  };
  std::vector<ErrorEntry> errors;
};

class RunStatus : public CycleObserver {
 public:
  RunStatus(Engine& engine, const ErrorTally& errors, const StatsObserver& stats);

  void after_cycle(Engine& engine, const CycleInfo& cycle) override;
  void module_changed(Engine& engine) override;
  // Copies the latest figures now (at the end of the run).
  void refresh(Engine& engine);

  StatusReport report() const;

 private:
  const ErrorTally& errors_;
  const StatsObserver& stats_;
  int64_t nextRefresh_ = 0;
  mutable std::mutex mutex_;
  StatusReport report_;
};

}  // namespace softplc
