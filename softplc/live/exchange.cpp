#include "softplc/live/exchange.h"

#include <algorithm>
#include <atomic>

#include "softplc/symbols/variable_spec.h"

namespace softplc {

namespace {

bool same_variable(const Variable& a, const Variable& b) { return a.offset == b.offset && a.type == b.type; }

Status ended_status() { return runtime_error("the run has ended"); }

}  // namespace

bool program_writes(const Variable& variable) {
  // A variable known only by its offset may be anything: renew it too.
  return !(variable.program && variable.direction == Direction::Input);
}

Exchange::Exchange(Engine& engine) : engine_(engine) {}

Exchange::~Exchange() { end(); }

std::shared_ptr<const Snapshot> Exchange::latest() const {
  std::lock_guard lock(mutex_);
  return latest_;
}

std::shared_ptr<const Snapshot> Exchange::wait_after(uint64_t cycles, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  published_.wait_for(lock, timeout, [&] { return ended_ || (latest_ && latest_->cycles > cycles); });
  return latest_;
}

std::future<Status> Exchange::submit(Kind kind, const Variable& variable, const Encoded& value,
                                     std::vector<VariableWrite> group) {
  auto request = std::make_unique<Request>();
  request->kind = kind;
  request->variable = variable;
  request->value = value;
  request->group = std::move(group);
  std::future<Status> result = request->done.get_future();
  std::lock_guard lock(mutex_);
  request->names = latest_ ? latest_->symbols.get() : nullptr;
  if (ended_) {
    request->done.set_value(ended_status());
  } else {
    queue_.push_back(std::move(request));
  }
  return result;
}

std::future<Status> Exchange::write(const Variable& variable, const Encoded& value) {
  return submit(Kind::Write, variable, value);
}

std::future<Status> Exchange::write_many(std::vector<VariableWrite> writes) {
  return submit(Kind::WriteMany, {}, {}, std::move(writes));
}

std::future<Status> Exchange::force(const Variable& variable, const Encoded& value) {
  return submit(Kind::Force, variable, value);
}

std::future<Status> Exchange::release(const Variable& variable) { return submit(Kind::Release, variable, {}); }

std::vector<Force> Exchange::forces() const {
  std::lock_guard lock(mutex_);
  return forcesView_;
}

std::future<Result<ChangeOutcome>> Exchange::change_module(const std::filesystem::path& path) {
  auto change = std::make_unique<PendingChange>();
  std::future<Result<ChangeOutcome>> result = change->done.get_future();
  if (ended()) {
    change->done.set_value(ended_status().error());
    return result;
  }
  change->request = engine_.request_change(path);
  std::lock_guard lock(mutex_);
  if (ended_) {
    change->request->cancel();
    change->done.set_value(ended_status().error());
  } else {
    changes_.push_back(std::move(change));
  }
  return result;
}

bool Exchange::ended() const {
  std::lock_guard lock(mutex_);
  return ended_;
}

void Exchange::force_now(const Variable& variable, const Encoded& value) {
  Request request{Kind::Force, variable, value, engine_.plc().symbols(), {}, {}};
  (void)apply(request);
}

void Exchange::end() {
  std::deque<std::unique_ptr<Request>> pending;
  std::deque<std::unique_ptr<PendingChange>> changes;
  {
    std::lock_guard lock(mutex_);
    if (ended_) return;
    ended_ = true;
    pending.swap(queue_);
    changes.swap(changes_);
  }
  published_.notify_all();
  for (auto& request : pending) request->done.set_value(ended_status());
  for (auto& change : changes) {
    change->request->cancel();
    change->done.set_value(ended_status().error());
  }
}

Result<Variable> Exchange::current(const Variable& variable, const Symbols* names) const {
  // A name found in another module's symbols (an online change came in between) is looked up
  // again in the running module's.
  const Symbols* symbols = engine_.plc().symbols();
  if (names == symbols || is_offset_spec(variable.name)) return variable;
  if (symbols == nullptr) return runtime_error("the running module has no symbol file; " + variable.name + " is unknown");
  auto found = symbols->find(variable.name);
  if (!found) return runtime_error("the running module has no variable " + variable.name);
  if ((*found)->type != variable.type) return runtime_error(variable.name + " has another type in the running module");
  return **found;
}

Status Exchange::apply(Request& request) {
  if (request.kind == Kind::WriteMany) {
    // Every name is looked up, and every place checked, before the first value is written.
    std::vector<Variable> variables;
    for (const VariableWrite& write : request.group) {
      auto variable = current(write.variable, request.names);
      if (!variable) return variable.error();
      if (uint64_t{variable->offset} + variable->size() > engine_.plc().data_size()) {
        return runtime_error(variable->name + " lies beyond the data area (" +
                             std::to_string(engine_.plc().data_size()) + " bytes)");
      }
      variables.push_back(std::move(variable).value());
    }
    for (std::size_t i = 0; i < variables.size(); ++i) {
      if (auto status = engine_.plc().write(variables[i], request.group[i].value.view()); !status) return status;
    }
    return ok_status();
  }
  auto variable = current(request.variable, request.names);
  if (!variable) return variable.error();
  const auto active = std::find_if(active_.begin(), active_.end(),
                                   [&](const Active& a) { return same_variable(a.variable, *variable); });
  switch (request.kind) {
    case Kind::Write: return engine_.plc().write(*variable, request.value.view());
    case Kind::WriteMany: break;   // above
    case Kind::Force:
      if (auto status = engine_.plc().write(*variable, request.value.view()); !status) return status;
      if (active != active_.end()) {
        active->value = request.value;
      } else {
        active_.push_back({*variable, request.value, program_writes(*variable)});
      }
      break;
    case Kind::Release:
      if (active == active_.end()) return runtime_error(variable->name + " is not forced");
      active_.erase(active);
      break;
  }
  share_forces();
  return ok_status();
}

void Exchange::share_forces() {
  std::vector<Force> view;
  for (const Active& a : active_) view.push_back({a.variable, a.value});
  std::lock_guard lock(mutex_);
  forcesView_ = std::move(view);
  ++forcesVersion_;
}

void Exchange::before_cycle(Engine&, uint64_t) { serve_requests(); }

void Exchange::serve_requests() {
  std::deque<std::unique_ptr<Request>> requests;
  std::vector<std::unique_ptr<PendingChange>> changed;
  {
    std::lock_guard lock(mutex_);
    if (queue_.empty() && changes_.empty()) return;
    requests.swap(queue_);
    // The engine made (or refused) these changes just now, before this cycle.
    while (!changes_.empty() && changes_.front()->request->outcome()) {
      changed.push_back(std::move(changes_.front()));
      changes_.pop_front();
    }
  }
  if (requests.empty() && changed.empty()) return;
  // Online changes first: the writes that came with them apply to the module that runs next.
  for (auto& change : changed) {
    const ChangeRequest& request = *change->request;
    if (out_ != nullptr && err_ != nullptr) tell_change(*request.outcome(), request.context(), *out_, *err_);
    change->done.set_value(*request.outcome());
  }
  std::vector<Status> results;
  results.reserve(requests.size());
  for (auto& request : requests) results.push_back(apply(*request));
  // What the requests wrote is in the snapshot before the next cycle runs, and before any channel
  // learns that its request was applied: a read that follows a write's answer sees the write.
  publish(engine_.cycles(), engine_.last_time_ns());
  for (std::size_t i = 0; i < requests.size(); ++i) requests[i]->done.set_value(std::move(results[i]));
}

void Exchange::write_forces(bool afterCycle) {
  for (const Active& force : active_) {
    if (afterCycle && !force.afterCycle) continue;
    (void)engine_.plc().write(force.variable, force.value.view());
  }
}

void Exchange::cycle_starting(Engine&, uint64_t, int64_t) { write_forces(false); }

void Exchange::after_cycle(Engine&, const CycleInfo& cycle) {
  write_forces(true);
  publish(cycle.index + 1, cycle.timeNs);
}

void Exchange::module_changed(Engine&) {
  std::vector<Active> kept;
  for (Active& force : active_) {
    auto variable = current(force.variable, nullptr);
    if (variable) {
      force.variable = *variable;
      kept.push_back(std::move(force));
    } else {
      dropped_.push_back(force.variable.name);
    }
  }
  active_ = std::move(kept);
  share_forces();
}

std::vector<std::string> Exchange::take_dropped_forces() { return std::exchange(dropped_, {}); }

void Exchange::publish_initial() { publish(0, 0); }

std::shared_ptr<Snapshot> Exchange::fresh_snapshot() {
  // A snapshot that only this list holds any more is free to be filled again: no channel can
  // reach it, since `latest_` does not point to it. The count is read relaxed, which orders
  // nothing; the last channel that held the snapshot let it go with a release (the count's
  // decrement), and the fence makes that release synchronise with this thread, so that every
  // read the channel made of the snapshot happens before the writes that fill it again. (A thread
  // sanitizer does not follow a fence of its own; it sees the copy returned below, whose increment
  // of the count the standard library makes an acquire-release operation.)
  for (const auto& spare : spare_) {
    if (spare.use_count() == 1 && spare.get() != latest_.get()) {
      std::atomic_thread_fence(std::memory_order_acquire);
      return spare;
    }
  }
  spare_.push_back(std::make_shared<Snapshot>());
  return spare_.back();
}

void Exchange::publish(uint64_t cycles, int64_t timeNs) {
  const Plc& plc = engine_.plc();
  std::shared_ptr<Snapshot> snapshot;
  {
    std::lock_guard lock(mutex_);
    snapshot = fresh_snapshot();
  }
  snapshot->cycles = cycles;
  snapshot->timeNs = timeNs;
  snapshot->ticksPerSecond = plc.ticks_per_second();
  if (snapshot->symbols.get() != plc.symbols()) snapshot->symbols = plc.shared_symbols();
  snapshot->data.resize(plc.data_size());
  if (!plc.read_area(snapshot->data)) return;
  {
    std::lock_guard lock(mutex_);
    snapshot->forcesVersion = forcesVersion_;
    latest_ = snapshot;
  }
  published_.notify_all();
}

}  // namespace softplc
