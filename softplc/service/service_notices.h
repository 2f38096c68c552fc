// A run under a service manager: what it tells the manager of the cycles. READY=1 once the first
// cycle ran (the module is initialised and the live channels listen before it); a STATUS= line with
// the cycles, the start jitter's p99 (real time) or the execution time's (simulated clock) and the
// errors, then and every five seconds; WATCHDOG=1 from the cycle thread, at half the manager's
// watchdog interval, while the cycles keep their deadlines, so that a hung or starved cycle thread
// stops the pings and the manager restarts the service; STOPPING=1 when the run ends.
#pragma once

#include <cstdint>
#include <string>

#include "softplc/engine/observer.h"
#include "softplc/observe/error_tally.h"
#include "softplc/observe/statistics.h"
#include "softplc/service/notify.h"

namespace softplc {

class ServiceNotices : public CycleObserver {
 public:
  ServiceNotices(ServiceManager manager, bool realtime, const StatsObserver& stats, const ErrorTally& errors);

  unsigned points() const override { return kAfterCycle | kDeadlinesSkipped; }
  bool wants_execution_time() const override { return true; }
  void after_cycle(Engine& engine, const CycleInfo& cycle) override;
  void deadlines_skipped(Engine& engine, uint64_t count) override;

  // The run ends (once).
  void stopping();

  // "cycles 1234, start jitter p99 2.7us, no cycle errors"
  std::string status() const;

 private:
  bool kept(Engine& engine, const CycleInfo& cycle);

  ServiceManager manager_;
  bool realtime_;
  const StatsObserver& stats_;
  const ErrorTally& errors_;
  bool ready_ = false;
  bool stopping_ = false;
  bool skipped_ = false;   // deadlines passed without a cycle since the last cycle
  int64_t nextStatusNs_ = 0;
  int64_t nextPingNs_ = 0;
};

}  // namespace softplc
