#include "softplc/scenario/checker.h"

#include <algorithm>

#include "softplc/observe/error_tally.h"
#include "softplc/scenario/value_check.h"
#include "softplc/scenario/written_at.h"
#include "softplc/symbols/variable_spec.h"
#include "softplc/util/text.h"
#include "softplc/util/values.h"

namespace softplc {

namespace {

std::string t(int64_t ns) { return "t=" + format_seconds(ns) + "s"; }
std::string seconds(int64_t ns) { return format_seconds(ns) + "s"; }

// An edge and a value kept unchanged compare with the value before their first cycle.
bool needs_previous(const Check& check) {
  return check.kind == Check::Kind::Rises || check.kind == Check::Kind::Falls ||
         (check.kind == Check::Kind::Value && check.value->form == ValueCheck::Form::Unchanged);
}

uint64_t start_of(const Check& check) {
  return needs_previous(check) && check.firstCycle > 0 ? check.firstCycle - 1 : check.firstCycle;
}

std::string codes_text(const std::vector<int32_t>& codes) {
  std::string text;
  for (std::size_t i = 0; i < codes.size(); ++i) {
    text += (i == 0 ? "" : i + 1 == codes.size() ? " and " : ", ") + error_text(codes[i]);
  }
  return text;
}

}  // namespace

ScenarioChecker::ScenarioChecker(const Scenario& scenario) {
  for (std::size_t i = 0; i < scenario.checks.size(); ++i) {
    State state;
    state.check = scenario.checks[i];
    state.index = i;
    states_.push_back(std::move(state));
    byStart_.push_back(i);
  }
  std::stable_sort(byStart_.begin(), byStart_.end(),
                   [&](std::size_t a, std::size_t b) { return start_of(states_[a].check) < start_of(states_[b].check); });
}

void ScenarioChecker::read_area(Engine& engine) {
  const Plc& plc = engine.plc();
  area_.resize(plc.data_size());
  ticksPerSecond_ = plc.ticks_per_second();
  if (!plc.read_area(area_)) std::fill(area_.begin(), area_.end(), 0);
}

void ScenarioChecker::prime(Engine& engine) {
  bool read = false;
  for (State& state : states_) {
    if (state.check.firstCycle != 0 || !needs_previous(state.check)) continue;
    if (!read) read_area(engine);
    read = true;
    prime(state, engine);
  }
}

void ScenarioChecker::prime(State& state, const Engine& engine) {
  state.primed = true;
  if (state.check.kind == Check::Kind::Value) {
    state.reference = number_at(area_, state.check.value->variable);
    state.referenceText = value_text(area_, state.check.value->variable, ticksPerSecond_);
    return;
  }
  auto held = state.check.condition->holds(area_);
  if (!held) {
    fail(state, engine, engine.cycles(), engine.last_time_ns(),
         state.check.condition->text() + " cannot be evaluated: " + held.error().message);
    return;
  }
  state.previous = *held;
}

void ScenarioChecker::after_cycle(Engine& engine, const CycleInfo& cycle) {
  while (started_ < byStart_.size() && start_of(states_[byStart_[started_]].check) <= cycle.index) {
    active_.push_back(byStart_[started_++]);
  }
  if (active_.empty()) return;
  read_area(engine);
  for (std::size_t index : active_) {
    State& state = states_[index];
    if (state.done) continue;
    if (cycle.index < state.check.firstCycle) {
      prime(state, engine);
    } else {
      check(state, engine, cycle);
    }
  }
  std::erase_if(active_, [&](std::size_t index) { return states_[index].done; });
}

void ScenarioChecker::module_changed(Engine& engine) {
  const Plc& plc = engine.plc();
  const Symbols* symbols = plc.symbols();
  const NameResolver resolve = [symbols, &plc](std::string_view name) {
    return find_variable(name, symbols, plc.symbols_note());
  };
  for (State& state : states_) {
    if (state.done) continue;
    Status found = ok_status();
    if (state.check.condition) found = state.check.condition->rebind(resolve);
    if (state.check.value) {
      auto now = resolve(state.check.value->variable.name);
      if (!now) {
        found = now.error();
      } else if (now->type != state.check.value->variable.type) {
        found = usage_error(now->name + " is " + std::string(type_name(now->type)) + " now");
      } else {
        state.check.value->variable = *now;
      }
    }
    if (!found) {
      fail(state, engine, engine.cycles(), engine.last_time_ns(),
           "cannot be checked after the online change to " + plc.module().name() + ": " + found.error().message);
    }
  }
}

void ScenarioChecker::check(State& state, const Engine& engine, const CycleInfo& cycle) {
  ++state.seen;
  switch (state.check.kind) {
    case Check::Kind::Value: check_value(state, engine, cycle); break;
    case Check::Kind::Condition: check_condition(state, engine, cycle); break;
    case Check::Kind::Rises:
    case Check::Kind::Falls: check_edge(state, engine, cycle); break;
    case Check::Kind::Errors: check_errors(state, cycle); break;
  }
  if (!state.done && cycle.index >= state.check.lastCycle) close(state, engine, cycle);
}

void ScenarioChecker::check_value(State& state, const Engine& engine, const CycleInfo& cycle) {
  const ValueCheck& value = *state.check.value;
  const long double actual = number_at(area_, value.variable);
  const bool holds = value_holds(value, actual, state.reference);
  const std::string actualText = value_text(area_, value.variable, ticksPerSecond_);
  const std::string& name = value.variable.name;
  switch (state.check.span) {
    case Check::Span::At:
      if (!holds) fail(state, engine, cycle.index, cycle.timeNs, name + " = " + actualText + ", expected " + value.text);
      state.done = true;
      break;
    case Check::Span::Within:
      if (holds) {
        note(state, cycle, name + " = " + actualText);
        state.done = true;
      } else if (cycle.index >= state.check.lastCycle) {
        fail(state, engine, cycle.index, cycle.timeNs,
             name + " = " + actualText + " at the deadline, expected " + value.text + " within " +
                 seconds(state.check.untilNs - state.check.fromNs) + " from " + t(state.check.fromNs));
        state.done = true;
      }
      break;
    case Check::Span::Always:
      if (holds) break;
      ++state.broken;
      if (state.failed) break;
      if (value.form == ValueCheck::Form::Unchanged) {
        fail(state, engine, cycle.index, cycle.timeNs,
             name + " changed from " + state.referenceText + " to " + actualText + ", expected unchanged" + span_text(state));
      } else {
        fail(state, engine, cycle.index, cycle.timeNs,
             name + " = " + actualText + ", expected " + value.text + span_text(state));
      }
      break;
  }
}

void ScenarioChecker::check_condition(State& state, const Engine& engine, const CycleInfo& cycle) {
  const Expression& condition = *state.check.condition;
  auto held = condition.holds(area_);
  if (!held) {
    fail(state, engine, cycle.index, cycle.timeNs, condition.text() + " cannot be evaluated: " + held.error().message);
    state.done = true;
    return;
  }
  switch (state.check.span) {
    case Check::Span::At:
      if (!*held) fail(state, engine, cycle.index, cycle.timeNs, condition.text() + " is FALSE (" + values(state) + ")");
      state.done = true;
      break;
    case Check::Span::Within:
      if (*held) {
        note(state, cycle, condition.text() + " became TRUE");
        state.done = true;
      } else if (cycle.index >= state.check.lastCycle) {
        fail(state, engine, cycle.index, cycle.timeNs,
             condition.text() + " did not become TRUE within " + seconds(state.check.untilNs - state.check.fromNs) +
                 " from " + t(state.check.fromNs) + " (at the deadline " + values(state) + ")");
        state.done = true;
      }
      break;
    case Check::Span::Always:
      if (*held) break;
      ++state.broken;
      if (!state.failed) {
        fail(state, engine, cycle.index, cycle.timeNs,
             condition.text() + " is FALSE (" + values(state) + "), expected TRUE" + span_text(state));
      }
      break;
  }
}

void ScenarioChecker::check_edge(State& state, const Engine& engine, const CycleInfo& cycle) {
  const Expression& condition = *state.check.condition;
  const bool rises = state.check.kind == Check::Kind::Rises;
  auto held = condition.holds(area_);
  if (!held) {
    fail(state, engine, cycle.index, cycle.timeNs, condition.text() + " cannot be evaluated: " + held.error().message);
    state.done = true;
    return;
  }
  const bool before = state.previous;
  state.previous = *held;
  const bool edge = rises ? (!before && *held) : (before && !*held);
  const char* verb = rises ? "rise" : "fall";
  if (state.check.span == Check::Span::At) {
    if (!edge) {
      fail(state, engine, cycle.index, cycle.timeNs,
           condition.text() + " did not " + verb + ": " + (before ? "TRUE" : "FALSE") + " before the cycle, " +
               (*held ? "TRUE" : "FALSE") + " after it (" + values(state) + ")");
    }
    state.done = true;
  } else if (edge) {
    note(state, cycle, condition.text() + (rises ? " rose" : " fell"));
    state.done = true;
  } else if (cycle.index >= state.check.lastCycle) {
    fail(state, engine, cycle.index, cycle.timeNs,
         condition.text() + " did not " + verb + " within " + seconds(state.check.untilNs - state.check.fromNs) +
             " from " + t(state.check.fromNs) + " (at the deadline " + values(state) + ")");
    state.done = true;
  }
}

void ScenarioChecker::check_errors(State& state, const CycleInfo& cycle) {
  if (cycle.errorCount == 0) return;
  const int32_t code = cycle.firstError;
  state.codes.insert(code);
  const std::vector<int32_t>& expected = state.check.errorCodes;
  if (std::find(expected.begin(), expected.end(), code) != expected.end()) return;
  ++state.broken;
  if (state.failed) return;
  const std::string count = cycle.errorCount > 1 ? " (the first of " + std::to_string(cycle.errorCount) + " in the cycle)" : "";
  ScenarioFailure failure;
  failure.where = state.check.where;
  failure.cycle = cycle.index;
  failure.timeNs = cycle.timeNs;
  failure.fromNs = state.check.fromNs;
  failure.message = error_text(code) + " recorded" + count +
                    (expected.empty() ? ", none expected" : ", expected only " + codes_text(expected)) + span_text(state);
  state.failed = true;
  state.failure = failures_.size();
  failures_.push_back(std::move(failure));
}

// The end of the check's cycles: what did not show by then fails, and an interval tells in how many
// of its cycles it did not hold.
void ScenarioChecker::close(State& state, const Engine& engine, const CycleInfo& cycle) {
  state.done = true;
  if (state.check.kind == Check::Kind::Errors) {
    for (int32_t code : state.check.errorCodes) {
      if (state.codes.count(code) == 0) {
        fail(state, engine, cycle.index, cycle.timeNs, error_text(code) + " expected" + span_text(state) + ", not recorded");
      }
    }
  }
  if (state.broken > 0 && state.check.span == Check::Span::Always && state.seen > 1) {
    failures_[state.failure].message +=
        "; in " + std::to_string(state.broken) + " of " + plural(state.seen, "cycle", "cycles");
  }
}

void ScenarioChecker::finish(const Engine& engine) {
  for (State& state : states_) {
    if (state.done) continue;
    state.done = true;
    if (state.check.lastCycle >= engine.cycles()) {
      fail(state, engine, engine.cycles() == 0 ? 0 : engine.cycles() - 1, engine.last_time_ns(),
           "not checked to its end: the run ended after " + plural(engine.cycles(), "cycle", "cycles"));
    }
  }
}

void ScenarioChecker::fail(State& state, const Engine& engine, uint64_t cycle, int64_t timeNs, std::string message) {
  ScenarioFailure failure;
  failure.where = state.check.where;
  failure.cycle = cycle;
  failure.timeNs = timeNs;
  failure.fromNs = state.check.fromNs;
  failure.message = std::move(message);
  std::vector<Variable> variables;
  if (state.check.value) variables.push_back(state.check.value->variable);
  if (state.check.condition) variables = state.check.condition->variables();
  const Symbols* symbols = engine.plc().symbols();
  for (const Variable& variable : variables) {
    failure.variables.push_back(variable.name);
    const std::string place = symbols != nullptr ? written_at(*symbols, variable) : "";
    if (!place.empty()) failure.written.push_back(variable.name + " is written at " + place);
  }
  if (!state.failed) {
    state.failed = true;
    state.failure = failures_.size();
  }
  failures_.push_back(std::move(failure));
}

void ScenarioChecker::note(State& state, const CycleInfo& cycle, const std::string& what) {
  notes_.push_back(state.check.where + ": " + what + " after " + seconds(cycle.timeNs - state.check.fromNs) + " (at " +
                   t(cycle.timeNs) + ", cycle " + std::to_string(cycle.index) + "), within " +
                   seconds(state.check.untilNs - state.check.fromNs));
}

std::string ScenarioChecker::values(const State& state) const {
  std::string text;
  for (const Variable& variable : state.check.condition->variables()) {
    text += (text.empty() ? "" : ", ") + variable.name + " = " + value_text(area_, variable, ticksPerSecond_);
  }
  return text;
}

std::string ScenarioChecker::span_text(const State& state) const {
  if (state.check.firstCycle == state.check.lastCycle) return "";
  return " from " + t(state.check.fromNs) + " to " + t(state.check.untilNs);
}

}  // namespace softplc
