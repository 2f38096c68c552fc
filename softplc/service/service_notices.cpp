#include "softplc/service/service_notices.h"

#include "softplc/engine/engine.h"
#include "softplc/engine/pacer.h"
#include "softplc/util/text.h"

namespace softplc {

namespace {

constexpr int64_t kStatusEveryNs = 5'000'000'000;

}  // namespace

ServiceNotices::ServiceNotices(ServiceManager manager, bool realtime, const StatsObserver& stats,
                               const ErrorTally& errors)
    : manager_(manager), realtime_(realtime), stats_(stats), errors_(errors) {}

std::string ServiceNotices::status() const {
  const CycleStats& total = stats_.total();
  std::string text = plural(total.cycles(), "cycle", "cycles");
  const DurationSummary summary = realtime_ ? total.jitter() : total.execution();
  text += std::string(realtime_ ? ", start jitter p99 " : ", execution time p99 ") +
          format_duration(static_cast<double>(summary.p99));
  uint64_t failed = 0;
  for (const auto& [code, entry] : errors_.entries()) failed += entry.cycles;
  if (failed == 0) return text + ", no cycle errors";
  const auto& [code, first] = *errors_.entries().begin();
  return text + ", errors in " + plural(failed, "cycle", "cycles") + " (" + error_text(code) + " first in cycle " +
         std::to_string(first.firstCycle) + ")";
}

// A cycle kept its deadline when the host was done with it before the next one was due, and no
// deadline passed without a cycle before it. The simulated clock has its pace instead: the cycle
// call took at most a period.
bool ServiceNotices::kept(Engine& engine, const CycleInfo& cycle) {
  const int64_t period = engine.options().period_ns();
  const bool skipped = skipped_;
  skipped_ = false;
  if (engine.realtime()) return !skipped && engine.now_ns() <= cycle.deadlineNs + period;
  return !engine.options().paced || cycle.executionNs <= period;
}

void ServiceNotices::after_cycle(Engine& engine, const CycleInfo& cycle) {
  const bool onTime = kept(engine, cycle);
  const int64_t now = steady_clock_ns();
  if (!ready_) {
    ready_ = true;
    nextStatusNs_ = now + kStatusEveryNs;
    notify_service_manager("READY=1\nSTATUS=" + status());
  } else if (now >= nextStatusNs_) {
    nextStatusNs_ = now + kStatusEveryNs;
    notify_service_manager("STATUS=" + status());
  }
  if (manager_.watchdogNs && onTime && now >= nextPingNs_) {
    nextPingNs_ = now + *manager_.watchdogNs / 2;
    notify_service_manager("WATCHDOG=1");
  }
}

void ServiceNotices::deadlines_skipped(Engine&, uint64_t) { skipped_ = true; }

void ServiceNotices::stopping() {
  if (stopping_) return;
  stopping_ = true;
  notify_service_manager("STOPPING=1\nSTATUS=stopping after " + status());
}

}  // namespace softplc
