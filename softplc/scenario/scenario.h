// A scenario: a run of the program on the simulated clock with what to do and what to check at
// which times, as a scenario file describes it (the README's "Testing the program" tells the
// format). Read and checked against the module's symbols (scenario_file.h) before anything runs;
// run by scenario_run.h.
//
// The timeline: cycle k runs at t = k × period. Something that happens at a time T happens at the
// first cycle at or after T: what a step does (set, force, release, change) is done before that
// cycle runs, and what it checks is checked right after it. An interval from T1 to T2 takes the
// cycles from the first at or after T1 to the last at or before T2.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "softplc/expr/expression.h"
#include "softplc/run/plan.h"
#include "softplc/symbols/symbol_table.h"
#include "softplc/util/values.h"

namespace softplc {

// What a value check expects of one variable: "50", "100 ± 0.5" (or "100 +- 0.5"), "200 .. 210",
// or (over an interval) "unchanged".
struct ValueCheck {
  enum class Form : uint8_t { Exact, Tolerance, Range, Unchanged };
  std::string where;          // FILE:LINE:COLUMN of the value
  Variable variable;
  Form form = Form::Exact;
  std::string text;           // the expectation as written, for messages ("100 ± 0.5")
  long double expected = 0;   // Exact, Tolerance; Range: the lower bound
  long double high = 0;       // Range: the upper bound
  long double tolerance = 0;  // Tolerance
};

// One check of a step, each told apart in a failure.
struct Check {
  enum class Kind : uint8_t {
    Value,       // a ValueCheck
    Condition,   // a BOOL expression holds
    Rises,       // a BOOL expression goes from FALSE to TRUE
    Falls,       // ... from TRUE to FALSE
    Errors,      // the cycles' recorded errors: none, or exactly the codes listed
  };
  enum class Span : uint8_t {
    At,        // the one cycle at the step's time
    Within,    // the first cycle from the step's time to its deadline at which it holds
    Always,    // every cycle of the interval
  };
  Kind kind = Kind::Value;
  Span span = Span::At;
  std::string where;                       // FILE:LINE:COLUMN of what it checks
  std::optional<ValueCheck> value;         // Kind::Value
  std::optional<Expression> condition;     // Condition, Rises, Falls
  std::vector<int32_t> errorCodes;         // Errors: the codes expected; empty: none
  uint64_t firstCycle = 0;                 // the cycles it looks at
  uint64_t lastCycle = 0;
  int64_t fromNs = 0;                      // the step's time (a `within` reports the time it took from it)
  int64_t untilNs = 0;                     // the end of its interval or its deadline
};

// What a step does before its cycle.
struct Action {
  enum class Kind : uint8_t { Change, Release, Force, Set };   // done in this order within a step
  Kind kind = Kind::Set;
  std::string where;
  std::string name;                  // the variable as written (Set, Force, Release)
  std::string value;                 // its value as written (Set, Force)
  std::filesystem::path module;      // Change: the module file
  uint64_t cycle = 0;                // done before this cycle
  int64_t atNs = 0;
};

struct Scenario {
  std::string name;
  std::string file;          // the scenario file as its messages name it
  uint32_t line = 0;         // where the scenario starts in it
  std::string where;         // FILE:LINE:COLUMN of the scenario
  uint32_t index = 0;        // its place among the file's scenarios (rows of a table counted apart)
  RunPlan plan;              // module, period, warm start, set, force, cycles
  std::shared_ptr<const Symbols> symbols;   // the names it was checked against
  std::vector<Action> actions;   // in the order they are done
  std::vector<Check> checks;     // in the file's order
  uint64_t lastCycle = 0;        // the scenario ends after this cycle
  int64_t end_ns() const { return static_cast<int64_t>(lastCycle) * plan.periodNs; }
  // The variables the checks look at, each once, in the order they first appear (what a failure's
  // trace and plot show).
  std::vector<Variable> checked_variables() const;
};

// "tests/scenarios/ramps.yaml: IntRamp rises" as the runner prints it and --filter reads it.
std::string scenario_id(const Scenario& scenario);

// The first cycle at or after `ns`, and the last at or before it.
uint64_t cycle_at_or_after(int64_t ns, int64_t periodNs);
uint64_t cycle_at_or_before(int64_t ns, int64_t periodNs);

}  // namespace softplc
