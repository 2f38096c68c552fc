#include "softplc/engine/engine.h"

#include <algorithm>

#include "kxrt.h"
#include "softplc/symbols/variable_spec.h"
#include "softplc/target/online_change.h"

namespace softplc {

namespace {

std::string runtime_failure(const char* what) {
  const char* message = kxrt_last_message();
  return std::string(what) + (message != nullptr && *message != '\0' ? std::string(": ") + message : "");
}

}  // namespace

Engine::Engine(std::unique_ptr<Plc> plc, EngineOptions options)
    : plc_(std::move(plc)), options_(options), pacer_(options.spinNs) {}

Engine::~Engine() = default;

void Engine::observe(CycleObserver& observer) {
  const unsigned points = observer.points();
  const auto add = [&](CyclePoint point, std::vector<CycleObserver*>& list) {
    if ((points & point) != 0) list.push_back(&observer);
  };
  add(kBeforeCycle, beforeCycle_);
  add(kCycleStarting, cycleStarting_);
  add(kAfterCycle, afterCycle_);
  add(kDeadlinesSkipped, deadlinesSkipped_);
  add(kModuleChanged, moduleChanged_);
  timeExecution_ = timeExecution_ || observer.wants_execution_time();
}

HeldVariable& Engine::hold(const Variable& variable) {
  held_.push_back(HeldVariable{variable, plc_->reference(variable), false});
  return held_.back();
}

Status Engine::start() {
  const int32_t source = realtime() ? KXRT_CLOCK_MONOTONIC : KXRT_CLOCK_SIMULATED;
  if (kxrt_clock_select(source) != 0) return runtime_error(runtime_failure("the runtime refused the clock"));
  simulatedNs_ = 0;
  steadyOrigin_ = steady_clock_ns();
  return ok_status();
}

bool Engine::finished(const RunLimit& limit) const {
  return (limit.deadlines && realtime() ? deadline_ : cycles_) >= limit.count;
}

int64_t Engine::now_ns() const { return realtime() ? kxrt_clock_now_ns() : steady_clock_ns(); }

Result<bool> Engine::run_cycle(const RunLimit& limit) {
  const uint64_t index = cycles_;
  for (CycleObserver* observer : beforeCycle_) observer->before_cycle(*this, index);
  if (stop_requested()) return false;

  const int64_t period = options_.period_ns();
  CycleInfo cycle;
  cycle.index = index;
  if (realtime()) {
    pacer_.wait_until(static_cast<int64_t>(deadline_) * period, stop_);
    if (stop_requested()) return false;
    // The cycle's instant: latched once, right at its start.
    kxrt_clock_latch();
    cycle.timeNs = kxrt_clock_latched_ns();
    const uint64_t reached = static_cast<uint64_t>(std::max<int64_t>(0, cycle.timeNs) / period);
    if (reached > deadline_) {
      const uint64_t last = limit.deadlines ? std::min(reached, limit.count) : reached;
      if (last > deadline_) {
        for (CycleObserver* observer : deadlinesSkipped_) observer->deadlines_skipped(*this, last - deadline_);
      }
      deadline_ = reached;
      if (finished(limit)) return false;
    }
    cycle.deadlineNs = static_cast<int64_t>(deadline_) * period;
  } else {
    if (options_.paced) {
      pacer_.wait_until_steady(steadyOrigin_, static_cast<int64_t>(index) * period, stop_);
      if (stop_requested()) return false;
    }
    // Moving the simulated clock latches it (the first cycle runs at the origin, latched by start).
    if (index > 0) {
      if (kxrt_clock_advance_ns(period) != 0) {
        return runtime_error(runtime_failure("the runtime refused to advance the clock"));
      }
      simulatedNs_ += period;
    }
    cycle.timeNs = simulatedNs_;
    cycle.deadlineNs = simulatedNs_;
  }
  kxdbg_begin_cycle();
  if (!firstTimeNs_) firstTimeNs_ = cycle.timeNs;
  lastTimeNs_ = cycle.timeNs;
  for (CycleObserver* observer : cycleStarting_) observer->cycle_starting(*this, index, cycle.timeNs);

  if (timeExecution_) {
    const int64_t before = now_ns();
    plc_->cycle();
    cycle.executionNs = now_ns() - before;
  } else {
    plc_->cycle();
  }
  ++cycles_;
  ++deadline_;
  cycle.errorCount = kxdbg_cycle_error_count();
  if (cycle.errorCount != 0) cycle.firstError = kxdbg_cycle_first_error();
  for (CycleObserver* observer : afterCycle_) observer->after_cycle(*this, cycle);
  return true;
}

Status Engine::run(const RunLimit& limit) {
  while (!finished(limit) && !stop_requested()) {
    auto ran = run_cycle(limit);
    if (!ran) return ran.error();
  }
  return ok_status();
}

Result<ChangeOutcome> Engine::change_module(const std::filesystem::path& path) {
  std::vector<HeldReference> references;
  references.reserve(held_.size());
  for (HeldVariable& held : held_) references.push_back({&held.reference, held.variable.name});
  auto change = softplc::change_module(*plc_, path, references);
  if (!change) return change.error();

  ChangeOutcome outcome;
  outcome.from = plc_->module().name();
  outcome.to = change->info.name;
  outcome.toCodeVersion = change->info.codeVersion;
  outcome.fromLayout = change->oldLayout;
  outcome.toLayout = change->newLayout;
  outcome.mapped = references.size();
  // From here the new module runs the cycles; the old one is unregistered and unloaded.
  plc_ = std::move(change->plc);

  // A variable known by name must be known to the new module under that name and type.
  if (const Symbols* symbols = plc_->symbols()) {
    for (HeldVariable& held : held_) {
      if (held.lost || held.variable.name.empty() || is_offset_spec(held.variable.name)) continue;
      const auto found = symbols->find(held.variable.name);
      const Variable* now = found ? *found : nullptr;
      if (now == nullptr || now->type != held.variable.type) {
        held.lost = true;
        outcome.lost.push_back(held.variable.name);
      }
    }
  }
  for (CycleObserver* observer : moduleChanged_) observer->module_changed(*this);
  return outcome;
}

}  // namespace softplc
