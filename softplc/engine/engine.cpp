#include "softplc/engine/engine.h"

#include <algorithm>
#include <utility>

#include "softplc/symbols/variable_spec.h"
#include "softplc/plc/online_change.h"

namespace softplc {

Engine::Engine(std::unique_ptr<Plc> plc, EngineOptions options, EngineServices services)
    : plc_(std::move(plc)),
      options_(options),
      runtime_(services.runtime ? std::move(services.runtime) : library_runtime(options.spinNs)),
      calls_(runtime_->cycle_calls()),
      prepare_(services.prepare ? std::move(services.prepare)
                                : ModulePreparer([](const Plc& running, const std::filesystem::path& path) {
                                    return prepare_module(running.module(), path);
                                  })),
      // The queue's thread reads the running module only while no change can be made (change_queue.h).
      changes_([this](const std::filesystem::path& path) { return prepare_(*plc_, path); }) {}

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
  if (auto selected = runtime_->select_clock(options_.clock); !selected) return selected;
  simulatedNs_ = 0;
  steadyOrigin_ = runtime_->steady_now_ns();
  return ok_status();
}

void Engine::restart_pace() {
  steadyOrigin_ = runtime_->steady_now_ns() - static_cast<int64_t>(cycles_) * options_.period_ns();
}

void Engine::note_hold(int64_t ns) {
  if (ns < 0) ns = 0;
  (inCall_ ? heldInCall_ : heldBefore_) += ns;
  ++holds_;
  rescheduled_ = true;
}

bool Engine::finished(const RunLimit& limit) const {
  return (limit.deadlines && realtime() ? deadline_ : cycles_) >= limit.count;
}

int64_t Engine::now_ns() const { return realtime() ? runtime_->clock_now_ns() : runtime_->steady_now_ns(); }

Result<bool> Engine::run_cycle(const RunLimit& limit) {
  const uint64_t index = cycles_;
  if (changes_.pending()) make_changes(index);
  for (CycleObserver* observer : beforeCycle_) observer->before_cycle(*this, index);
  if (stop_requested()) return false;

  const int64_t period = options_.period_ns();
  CycleInfo cycle;
  cycle.index = index;
  if (rescheduled_) {
    // After a hold the schedule starts again from now: the deadlines the hold covered were neither
    // missed nor skipped.
    rescheduled_ = false;
    if (realtime()) {
      const int64_t now = runtime_->clock_now_ns();
      const uint64_t next = now <= 0 ? 0 : static_cast<uint64_t>((now + period - 1) / period);
      deadline_ = std::max(deadline_, next);
    } else {
      restart_pace();
    }
  }
  if (realtime()) {
    runtime_->wait_for_clock(static_cast<int64_t>(deadline_) * period, stop_);
    if (stop_requested()) return false;
    // The cycle's instant: latched once, right at its start.
    cycle.timeNs = runtime_->latch_clock();
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
      runtime_->wait_for_steady(steadyOrigin_ + static_cast<int64_t>(index) * period, stop_);
      if (stop_requested()) return false;
    }
    // Moving the simulated clock latches it (the first cycle runs at the origin, latched by start).
    if (index > 0) {
      if (calls_.advanceClock(period) != 0) {
        const std::string why = runtime_->refusal();
        return runtime_error("the runtime refused to advance the clock" + (why.empty() ? why : ": " + why));
      }
      simulatedNs_ += period;
    }
    cycle.timeNs = simulatedNs_;
    cycle.deadlineNs = simulatedNs_;
  }
  calls_.beginCycle();
  if (!firstTimeNs_) firstTimeNs_ = cycle.timeNs;
  lastTimeNs_ = cycle.timeNs;
  for (CycleObserver* observer : cycleStarting_) observer->cycle_starting(*this, index, cycle.timeNs);

  inCall_ = true;
  if (timeExecution_) {
    const int64_t before = now_ns();
    plc_->cycle();
    cycle.executionNs = now_ns() - before - heldInCall_;
  } else {
    plc_->cycle();
  }
  inCall_ = false;
  cycle.heldNs = std::exchange(heldInCall_, 0);
  cycle.heldBeforeNs = std::exchange(heldBefore_, 0);
  cycle.holds = std::exchange(holds_, 0);
  ++cycles_;
  ++deadline_;
  cycle.errorCount = calls_.errorCount();
  if (cycle.errorCount != 0) cycle.firstError = calls_.firstError();
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

std::shared_ptr<ChangeRequest> Engine::request_change(const std::filesystem::path& path,
                                                      std::optional<uint64_t> beforeCycle) {
  return changes_.request(path, beforeCycle);
}

Result<ChangeOutcome> Engine::change_module(const std::filesystem::path& path) {
  const std::shared_ptr<ChangeRequest> request = changes_.request(path, cycles_);
  // Due now: waited for, also in real time.
  while (!request->outcome() && !stop_requested()) {
    auto next = changes_.next(cycles_, true, [this] { return stop_requested(); });
    if (!next) break;
    if (!next->cancelled()) make_change(*next, cycles_);
    changes_.done(next);
  }
  if (request->outcome()) return *request->outcome();
  request->cancel();
  return runtime_error(std::string("interrupted") + (interrupted() ? std::string(" by ") + interrupting_signal() : "") +
                       " while the new module was being read");
}

void Engine::make_changes(uint64_t index) {
  // On the simulated clock a change due before this cycle happens before it, whatever it takes.
  const auto stop = [this] { return stop_requested(); };
  while (auto request = changes_.next(index, !realtime(), stop)) {
    if (!request->cancelled()) make_change(*request, index);
    changes_.done(request);
  }
}

void Engine::make_change(ChangeRequest& request, uint64_t index) {
  request.context_ = ChangeContext{request.path(), plc_->module().name(), index, false};
  Result<PreparedModule> prepared = std::move(*request.prepared_);
  if (!prepared) {
    request.outcome_ = prepared.error();
    return;
  }
  std::vector<HeldReference> references;
  references.reserve(held_.size());
  for (HeldVariable& held : held_) references.push_back({&held.reference, held.variable.name});
  auto change = softplc::change_module(*plc_, *prepared, references);
  if (!change) {
    changes_.unload(std::move(prepared->plc));
    request.outcome_ = change.error();
    return;
  }

  ChangeOutcome outcome;
  outcome.from = plc_->module().name();
  outcome.to = change->info.name;
  outcome.toCodeVersion = change->info.codeVersion;
  outcome.fromLayout = change->oldLayout;
  outcome.toLayout = change->newLayout;
  outcome.mapped = references.size();
  // From here the new module runs the cycles; the old one is unregistered now and unloaded on the
  // queue's thread.
  std::unique_ptr<Plc> old = std::exchange(plc_, std::move(change->plc));
  old->unregister();
  changes_.unload(std::move(old));

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
  request.outcome_ = std::move(outcome);
}

}  // namespace softplc
