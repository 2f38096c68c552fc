#include "softplc/observe/statistics.h"

#include <limits>

#include "softplc/util/values.h"

namespace softplc {

StatsObserver::StatsObserver(std::ostream& out, int64_t periodNs, bool realtime, std::optional<int64_t> everyNs)
    : out_(out),
      realtime_(realtime),
      everyNs_(everyNs),
      total_(periodNs),
      interval_(periodNs),
      nextReport_(everyNs ? *everyNs : std::numeric_limits<int64_t>::max()) {}

void StatsObserver::after_cycle(Engine& engine, const CycleInfo& cycle) {
  // In a simulated run the deadlines are the simulated times, always met.
  const CycleTiming timing{cycle.deadlineNs, cycle.timeNs,   cycle.executionNs, realtime_ ? engine.now_ns() : cycle.timeNs,
                           cycle.heldNs,     cycle.heldBeforeNs, cycle.holds};
  total_.add(timing);
  interval_.add(timing);
  const int64_t period = total_.period();
  if (!everyNs_ || cycle.timeNs + period < nextReport_) return;
  out_ << format_stats(interval_, "t=" + format_seconds(intervalStart_) + "s to " + format_seconds(nextReport_) + "s",
                       realtime_)
       << std::flush;
  interval_.restart();
  while (cycle.timeNs + period >= nextReport_) {
    intervalStart_ = nextReport_;
    if (nextReport_ > std::numeric_limits<int64_t>::max() - *everyNs_) {
      nextReport_ = std::numeric_limits<int64_t>::max();
      break;
    }
    nextReport_ += *everyNs_;
  }
}

void StatsObserver::deadlines_skipped(Engine&, uint64_t count) {
  total_.add_skipped(count);
  interval_.add_skipped(count);
}

std::string StatsObserver::report() const { return format_stats(total_, "whole run", realtime_); }

}  // namespace softplc
