// The checks of a scenario as the cycles run: a participant of the run in the front end's place
// (it reads the data area after the exchange has renewed the forces), which looks at each cycle
// only when a check is due and keeps the first failure of each check with the cycle it showed in.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "softplc/engine/engine.h"
#include "softplc/scenario/outcome.h"
#include "softplc/scenario/scenario.h"

namespace softplc {

class ScenarioChecker : public CycleObserver {
 public:
  explicit ScenarioChecker(const Scenario& scenario);

  unsigned points() const override { return kAfterCycle | kModuleChanged; }
  // Before the first cycle: the values the checks that start with it compare with (an edge's value
  // before it, what `unchanged` keeps).
  void prime(Engine& engine);
  void after_cycle(Engine& engine, const CycleInfo& cycle) override;
  void module_changed(Engine& engine) override;
  // The run ended after `cycles` cycles: every check is decided (one the run did not reach fails).
  void finish(const Engine& engine);

  // A failure of the scenario's own doing (an action refused), in its place among the others.
  void add_failure(ScenarioFailure failure) { failures_.push_back(std::move(failure)); }
  std::vector<ScenarioFailure>& failures() { return failures_; }
  std::vector<std::string>& notes() { return notes_; }

 private:
  struct State {
    Check check;                  // a copy: its names follow an online change
    std::size_t index = 0;        // in the scenario
    bool done = false;
    bool primed = false;
    long double reference = 0;    // a value check's value before the interval
    std::string referenceText;
    bool previous = false;        // an edge's condition after the cycle before
    uint64_t seen = 0;            // cycles looked at
    uint64_t broken = 0;          // of them, those where it did not hold
    std::set<int32_t> codes;      // errors recorded
    bool failed = false;          // its failure is failures_[failure]
    std::size_t failure = 0;
  };

  void read_area(Engine& engine);
  void prime(State& state, const Engine& engine);
  void check(State& state, const Engine& engine, const CycleInfo& cycle);
  void check_value(State& state, const Engine& engine, const CycleInfo& cycle);
  void check_condition(State& state, const Engine& engine, const CycleInfo& cycle);
  void check_edge(State& state, const Engine& engine, const CycleInfo& cycle);
  void check_errors(State& state, const CycleInfo& cycle);
  void close(State& state, const Engine& engine, const CycleInfo& cycle);
  void fail(State& state, const Engine& engine, uint64_t cycle, int64_t timeNs, std::string message);
  void note(State& state, const CycleInfo& cycle, const std::string& what);
  std::string values(const State& state) const;
  std::string span_text(const State& state) const;

  std::vector<State> states_;
  std::vector<std::size_t> byStart_;   // the states by the cycle they start looking at
  std::size_t started_ = 0;
  std::vector<std::size_t> active_;
  std::vector<uint8_t> area_;
  uint32_t ticksPerSecond_ = 0;
  std::vector<ScenarioFailure> failures_;
  std::vector<std::string> notes_;
};

}  // namespace softplc
