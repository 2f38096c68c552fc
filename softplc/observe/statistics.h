// Cycle statistics while a run goes on: the whole run, and with an interval each interval, printed
// as soon as it ends. Only wired when somebody asked for statistics (a real-time run always has
// them): measuring costs time in every cycle.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>

#include "softplc/engine/engine.h"
#include "softplc/observe/cycle_stats.h"

namespace softplc {

class StatsObserver : public CycleObserver {
 public:
  StatsObserver(std::ostream& out, int64_t periodNs, bool realtime, std::optional<int64_t> everyNs);

  unsigned points() const override { return kAfterCycle | kDeadlinesSkipped; }
  bool wants_execution_time() const override { return true; }
  void after_cycle(Engine& engine, const CycleInfo& cycle) override;
  void deadlines_skipped(Engine& engine, uint64_t count) override;

  const CycleStats& total() const { return total_; }
  // The report of the whole run.
  std::string report() const;

 private:
  std::ostream& out_;
  bool realtime_;
  std::optional<int64_t> everyNs_;
  CycleStats total_;
  CycleStats interval_;
  int64_t intervalStart_ = 0;
  int64_t nextReport_;
};

}  // namespace softplc
