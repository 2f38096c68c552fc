#include "softplc/live/status.h"

#include "softplc/engine/pacer.h"

namespace softplc {

namespace {

constexpr int64_t kRefreshNs = 100'000'000;

}  // namespace

HeldAt held_at(const SourceMap& map, const SourceLocation* where, bool exitHook, uint64_t cycle, std::string event) {
  HeldAt at;
  at.cycle = cycle;
  at.event = std::move(event);
  if (where == nullptr) return at;
  at.line = exitHook ? where->exit_line() : where->line();
  at.block = where->block->name;
  at.instance = std::string(where->instance);
  if (map.listing() != nullptr) at.statement = map.listing()->statement_at(at.line);
  return at;
}

RunStatus::RunStatus(Engine& engine, const ErrorTally& errors, const StatsObserver& stats)
    : errors_(errors), stats_(stats) {
  report_.realtime = engine.realtime();
  report_.periodNs = engine.options().period_ns();
  module_changed(engine);
}

void RunStatus::after_cycle(Engine& engine, const CycleInfo&) {
  const int64_t now = steady_clock_ns();
  if (now < nextRefresh_) return;
  nextRefresh_ = now + kRefreshNs;
  refresh(engine);
}

void RunStatus::module_changed(Engine& engine) {
  auto info = query_module_info(engine.plc().module());
  std::lock_guard lock(mutex_);
  if (info) report_.module = *info;
}

void RunStatus::refresh(Engine& engine) {
  const CycleStats& total = stats_.total();
  std::vector<StatusReport::ErrorEntry> errors;
  for (const auto& [code, entry] : errors_.entries()) {
    errors.push_back({code, std::string(error_meaning(code)), entry.cycles, entry.firstCycle, entry.firstTimeNs});
  }
  const DurationSummary execution = total.execution();
  const DurationSummary jitter = total.jitter();
  std::lock_guard lock(mutex_);
  report_.cycles = engine.cycles();
  report_.lastTimeNs = engine.last_time_ns();
  report_.execution = execution;
  report_.jitter = jitter;
  report_.meanPeriodNs = total.mean_period();
  report_.overruns = total.overruns();
  report_.skipped = total.skipped();
  report_.heldNs = total.held();
  report_.holds = total.holds();
  report_.errors = std::move(errors);
}

StatusReport RunStatus::report() const {
  std::lock_guard lock(mutex_);
  return report_;
}

void RunStatus::hold(HeldAt at) {
  std::lock_guard lock(mutex_);
  report_.held = std::move(at);
  heldVersion_.fetch_add(1, std::memory_order_release);
}

void RunStatus::resume() {
  std::lock_guard lock(mutex_);
  if (!report_.held) return;
  report_.held.reset();
  heldVersion_.fetch_add(1, std::memory_order_release);
}

std::optional<HeldAt> RunStatus::held() const {
  std::lock_guard lock(mutex_);
  return report_.held;
}

}  // namespace softplc
