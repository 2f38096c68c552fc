#include "softplc/scenario/scenario_run.h"

#include <algorithm>
#include <chrono>
#include <future>
#include <sstream>

#include "softplc/observe/plot.h"
#include "softplc/run/run.h"
#include "softplc/scenario/checker.h"
#include "softplc/util/files.h"
#include "softplc/util/text.h"
#include "softplc/util/values.h"

namespace softplc {

namespace {

std::string file_safe(std::string_view text) {
  std::string out;
  for (char c : text) {
    const bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                      c == '_' || c == '.';
    out += keep ? c : '_';
  }
  return out.substr(0, 120);
}

// A force or a release asked of the exchange before a cycle, answered when that cycle begins.
struct Pending {
  std::future<Status> done;
  std::string where;
  std::string what;
  uint64_t cycle = 0;
  int64_t atNs = 0;
};

ScenarioFailure action_failure(const Action& action, int64_t periodNs, std::string message) {
  ScenarioFailure failure;
  failure.where = action.where;
  failure.cycle = action.cycle;
  failure.timeNs = static_cast<int64_t>(action.cycle) * periodNs;
  failure.fromNs = action.atNs;
  failure.message = std::move(message);
  return failure;
}

// Does an action of the scenario before its cycle; what cannot be done is a failure of the scenario.
void act(const Action& action, Run& run, ScenarioChecker& checker, std::vector<Pending>& pending) {
  Engine& engine = run.engine();
  Plc& plc = engine.plc();
  const int64_t period = engine.options().period_ns();
  if (action.kind == Action::Kind::Change) {
    auto changed = engine.change_module(action.module);
    if (!changed) {
      checker.add_failure(action_failure(action, period, "online change to " + display_path(action.module) +
                                                             " refused: " + changed.error().message));
    }
    return;
  }
  auto variable = plc.variable(action.name);
  if (!variable) {
    checker.add_failure(action_failure(action, period, action.name + ": " + variable.error().message));
    return;
  }
  Encoded bytes;
  if (action.kind != Action::Kind::Release) {
    auto value = parse_value(variable->type, action.value);
    auto encoded = value ? encode(*value, plc.ticks_per_second()) : Result<Encoded>(value.error());
    if (!encoded) {
      checker.add_failure(action_failure(action, period, action.name + ": " + encoded.error().message));
      return;
    }
    bytes = *encoded;
  }
  switch (action.kind) {
    case Action::Kind::Set:
      if (auto written = plc.write(*variable, bytes.view()); !written) {
        checker.add_failure(action_failure(action, period, "set " + action.name + ": " + written.error().message));
      }
      break;
    case Action::Kind::Force:
      pending.push_back({run.exchange()->force(*variable, bytes), action.where, "force " + action.name, action.cycle,
                         action.atNs});
      break;
    case Action::Kind::Release:
      pending.push_back({run.exchange()->release(*variable), action.where, "release " + action.name, action.cycle,
                         action.atNs});
      break;
    case Action::Kind::Change: break;
  }
}

// The first row of a trace: its column names.
std::vector<std::string> trace_columns(const std::filesystem::path& csv) {
  auto bytes = read_file_bytes(csv, uint64_t{1} << 30);
  if (!bytes) return {};
  const std::string_view text(reinterpret_cast<const char*>(bytes->data()), bytes->size());
  const CsvText parsed = read_csv(text.substr(0, text.find('\n')));
  return parsed.records.empty() ? std::vector<std::string>{} : parsed.records.front().fields;
}

// The variables that the failures look at, around the first failure.
Status draw_failure(const Scenario& scenario, const ScenarioOutcome& outcome, const std::filesystem::path& csv,
                    const std::filesystem::path& png) {
  const std::vector<std::string> columns = trace_columns(csv);
  PlotRequest request;
  request.csv = csv;
  request.output = png;
  request.ticksPerSecond = scenario.symbols->ticksPerSecond;
  for (const ScenarioFailure& failure : outcome.failures) {
    for (const std::string& name : failure.variables) {
      const auto column = std::find_if(columns.begin(), columns.end(),
                                       [&](const std::string& c) { return equal_ignoring_case(c, name); });
      const bool drawn = std::any_of(request.series.begin(), request.series.end(),
                                     [&](const PlotSeries& s) { return equal_ignoring_case(s.name, name); });
      if (column == columns.end() || drawn) continue;
      auto variable = scenario.symbols->find(name);
      request.series.push_back({*column, variable ? (*variable)->type : ValueType::Real,
                                static_cast<std::size_t>(column - columns.begin()) + 1});
    }
  }
  if (request.series.empty()) return ok_status();   // an error or an action: nothing to draw
  // Around the first failure: from its expectation's time (or a tenth of the scenario before the
  // failure) to a tenth of the scenario after it.
  const ScenarioFailure& first = outcome.failures.front();
  const int64_t end = scenario.end_ns();
  const int64_t margin = std::max<int64_t>(end / 10, 20 * scenario.plan.periodNs);
  const int64_t from = std::max<int64_t>(0, std::min(first.fromNs, first.timeNs - margin));
  const int64_t to = std::min(end, first.timeNs + margin);
  request.firstSeconds = static_cast<double>(from) / 1e9;
  request.lastSeconds = static_cast<double>(to) / 1e9;
  request.title = scenario.name + ": " + first.message.substr(0, 100);
  return draw_plot(request);
}

}  // namespace

std::string trace_file_stem(const Scenario& scenario) {
  return file_safe(std::filesystem::path(scenario.file).stem().string()) + "--" + file_safe(scenario.name);
}

ScenarioOutcome run_scenario(const Scenario& scenario, const ScenarioRunOptions& options) {
  const auto started = std::chrono::steady_clock::now();
  ScenarioOutcome outcome;
  outcome.file = scenario.file;
  outcome.name = scenario.name;
  outcome.line = scenario.line;
  const auto broken = [&](const std::string& why) {
    outcome.status = ScenarioOutcome::Status::Broken;
    outcome.error = why;
    outcome.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return outcome;
  };

  RunPlan plan = scenario.plan;
  std::optional<std::filesystem::path> csv;
  if (options.traceFolder) {
    csv = *options.traceFolder / (trace_file_stem(scenario) + ".csv");
    plan.tracePath = *csv;
    for (const Variable& variable : scenario.checked_variables()) plan.vars.push_back(variable.name);
  }
  // What the run tells as it goes (an online change made) is not the runner's to print.
  std::ostringstream log;
  auto loaded = Run::load(std::move(plan), RunLog{log, log});
  if (!loaded) return broken(loaded.error().message);
  Run& run = **loaded;
  ScenarioChecker checker(scenario);
  run.add_front_end(checker);
  if (auto begun = run.start(); !begun) return broken(begun.error().message);
  Engine& engine = run.engine();
  checker.prime(engine);

  std::vector<Pending> pending;
  std::size_t next = 0;
  std::optional<std::string> stopped;
  for (uint64_t cycle = 0; cycle <= scenario.lastCycle; ++cycle) {
    for (; next < scenario.actions.size() && scenario.actions[next].cycle == cycle; ++next) {
      act(scenario.actions[next], run, checker, pending);
    }
    auto ran = engine.run_cycle();
    if (!ran || !*ran) {
      const char* signal = interrupting_signal();
      stopped = !ran ? ran.error().message : signal != nullptr ? std::string("interrupted by ") + signal : "stopped";
      break;
    }
    for (Pending& asked : pending) {
      const Status done = asked.done.get();
      if (!done) {
        ScenarioFailure failure;
        failure.where = asked.where;
        failure.cycle = asked.cycle;
        failure.timeNs = static_cast<int64_t>(asked.cycle) * scenario.plan.periodNs;
        failure.fromNs = asked.atNs;
        failure.message = asked.what + ": " + done.error().message;
        checker.add_failure(std::move(failure));
      }
    }
    pending.clear();
  }
  if (!stopped) checker.finish(engine);
  const RunReport report = run.finish();
  outcome.cycles = engine.cycles();
  outcome.simulatedNs = engine.last_time_ns();
  outcome.failures = std::move(checker.failures());
  outcome.notes = std::move(checker.notes());
  if (stopped) return broken(*stopped + " after " + plural(outcome.cycles, "cycle", "cycles"));
  if (report.failure) return broken(report.failure->message);
  std::stable_sort(outcome.failures.begin(), outcome.failures.end(),
                   [](const ScenarioFailure& a, const ScenarioFailure& b) { return a.cycle < b.cycle; });
  outcome.status = outcome.failures.empty() ? ScenarioOutcome::Status::Passed : ScenarioOutcome::Status::Failed;
  outcome.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

  if (csv) {
    std::error_code ec;
    if (outcome.passed()) {
      std::filesystem::remove(*csv, ec);
    } else {
      outcome.trace = csv->string();
      std::filesystem::path png = *csv;
      png.replace_extension(".png");
      if (auto drawn = draw_failure(scenario, outcome, *csv, png); !drawn) {
        outcome.notes.push_back("no plot of the failure: " + drawn.error().message);
      } else if (std::filesystem::exists(png, ec)) {
        outcome.plot = png.string();
      }
    }
  }
  return outcome;
}

}  // namespace softplc
