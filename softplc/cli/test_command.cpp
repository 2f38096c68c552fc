// softplc test: reads every scenario file named, refuses them all when one is wrong, runs the
// scenarios selected (here, or side by side in processes of their own with -j), prints a line per
// scenario and per failure and a summary, and writes the JUnit report.
#include <chrono>
#include <cstdio>

#include "softplc/cli/commands.h"
#include "softplc/engine/interrupt.h"
#include "softplc/observe/plot.h"
#include "softplc/scenario/junit.h"
#include "softplc/scenario/scenario_run.h"
#include "softplc/scenario/suite.h"
#include "softplc/util/files.h"
#include "softplc/util/platform.h"
#include "softplc/util/text.h"
#include "softplc/util/values.h"

namespace softplc {

namespace {

std::string wall(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", seconds);
  return text;
}

void print_outcome(const ScenarioOutcome& outcome, std::ostream& out) {
  switch (outcome.status) {
    case ScenarioOutcome::Status::Passed: out << "PASS "; break;
    case ScenarioOutcome::Status::Failed: out << "FAIL "; break;
    case ScenarioOutcome::Status::Broken: out << "BROKEN "; break;
  }
  out << outcome.id();
  if (outcome.status == ScenarioOutcome::Status::Broken) {
    out << ": could not run: " << outcome.error << "\n";
  } else {
    out << " (" << format_seconds(outcome.simulatedNs) << " s simulated, " << wall(outcome.wallSeconds) << " s)\n";
  }
  for (const ScenarioFailure& failure : outcome.failures) out << "  " << failure.lines("    ") << "\n";
  for (const std::string& note : outcome.notes) out << "  " << note << "\n";
  if (outcome.trace) out << "  trace written to " << *outcome.trace << "\n";
  if (outcome.plot) out << "  plot written to " << *outcome.plot << "\n";
  out << std::flush;
}

// `softplc test --one FILE --index I --outcome OUT`: one scenario, its outcome as JSON into OUT.
int run_one(const TestArguments& args, const ScenarioSources& sources, std::ostream& err) {
  auto scenarios = read_scenario_file(args.one, sources);
  if (!scenarios) return report_error(scenarios.error(), err);
  const Scenario* scenario = nullptr;
  for (const Scenario& candidate : *scenarios)
    if (candidate.index == args.index) scenario = &candidate;
  if (scenario == nullptr) {
    return report_error(usage_error(args.one + " has no scenario " + std::to_string(args.index)), err);
  }
  ScenarioRunOptions options;
  if (!args.traceFailures.empty()) options.traceFolder = args.traceFailures;
  const ScenarioOutcome outcome = run_scenario(*scenario, options);
  if (auto written = write_file(args.outcome, outcome_to_json(outcome)); !written) {
    return report_error(runtime_error("cannot write " + args.outcome + ": " + written.error().message), err);
  }
  return kExitOk;
}

}  // namespace

int command_test(const TestArguments& args, std::ostream& out, std::ostream& err) {
  // A signal ends the scenario that runs (its cycle in progress first) and runs no other.
  InterruptGuard interruptions;
  SymbolCache symbols;
  ScenarioSources sources;
  sources.symbols = &symbols;
  if (!args.module.empty()) sources.module = std::filesystem::path(args.module);
  if (!args.one.empty()) return run_one(args, sources, err);

  if (args.paths.empty()) return report_error(usage_error("test needs scenario files or folders (softplc test tests/scenarios)"), err);
  if (args.jobs == 0) return report_error(usage_error("-j expects a number of processes of at least 1"), err);
  Shard shard;
  if (!args.shard.empty()) {
    auto parsed = parse_shard(args.shard);
    if (!parsed) return report_error(parsed.error(), err);
    shard = *parsed;
  }
  auto files = scenario_files(args.paths);
  if (!files) return report_error(files.error(), err);

  // Every file is read and checked first: a mistake in any of them runs nothing.
  const SuiteContents contents = read_suite(*files, sources);
  if (!contents.mistakes.empty()) {
    for (const std::string& mistake : contents.mistakes) err << "softplc: " << mistake << "\n";
    err << "softplc: " << contents.mistakes.size() << " of " << plural(files->size(), "scenario file", "scenario files")
        << (contents.mistakes.size() == 1 ? " is" : " are") << " wrong; no scenario ran\n";
    return kExitBadScenarioFile;
  }
  const std::vector<const Scenario*> selected = select_scenarios(contents.scenarios, args.filter, shard);
  if (selected.empty() && !args.filter.empty()) {
    return report_error(usage_error("--filter '" + args.filter + "' selects none of the " +
                                    plural(contents.scenarios.size(), "scenario", "scenarios")),
                        err);
  }

  ScenarioRunOptions options;
  if (!args.traceFailures.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(args.traceFailures, ec);
    if (ec || !std::filesystem::is_directory(args.traceFailures, ec)) {
      return report_error(runtime_error("--trace-failures: cannot make the folder " + args.traceFailures), err);
    }
    if (auto plotter = check_plotter(); !plotter) return report_error(plotter.error(), err);
    options.traceFolder = args.traceFailures;
  }
  std::filesystem::path self;
  if (args.jobs > 1) {
    auto path = executable_path();
    if (!path) return report_error(path.error(), err);
    self = *path;
  }
  const ChildCommand child = [&](const Scenario& scenario, const std::filesystem::path& outcomeFile) {
    std::vector<std::string> command{"test", "--one", scenario.file, "--index", std::to_string(scenario.index),
                                     "--outcome", outcomeFile.string()};
    if (!args.module.empty()) command.insert(command.end(), {"--module", args.module});
    if (!args.traceFailures.empty()) command.insert(command.end(), {"--trace-failures", args.traceFailures});
    return command;
  };

  const auto started = std::chrono::steady_clock::now();
  const std::vector<ScenarioOutcome> outcomes = run_suite(
      selected, args.jobs, [&](const Scenario& scenario) { return run_scenario(scenario, options); }, self, child,
      [&](const ScenarioOutcome& outcome) { print_outcome(outcome, out); });
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

  std::size_t passed = 0, failed = 0, broken = 0;
  for (const ScenarioOutcome& outcome : outcomes) {
    passed += outcome.status == ScenarioOutcome::Status::Passed;
    failed += outcome.status == ScenarioOutcome::Status::Failed;
    broken += outcome.status == ScenarioOutcome::Status::Broken;
  }
  out << plural(outcomes.size(), "scenario", "scenarios") << ": " << passed << " passed, " << failed << " failed";
  if (broken != 0) out << ", " << broken << " could not run";
  out << " (" << plural(files->size(), "file", "files");
  if (selected.size() != contents.scenarios.size()) {
    out << ", " << selected.size() << " of " << contents.scenarios.size() << " scenarios selected";
    if (shard.count > 1) out << " by shard " << shard.index << "/" << shard.count;
  }
  out << ", " << wall(seconds) << " s)\n" << std::flush;

  int status = failed + broken == 0 ? kExitOk : kExitFailure;
  if (!args.junit.empty()) {
    if (auto written = write_file(args.junit, junit_report(outcomes, seconds)); !written) {
      status = report_error(runtime_error("cannot write the JUnit report " + args.junit + ": " + written.error().message), err);
    }
  }
  if (const char* signal = interrupting_signal()) {
    err << "softplc: interrupted by " << signal << " after " << plural(outcomes.size(), "scenario", "scenarios") << " of "
        << selected.size() << "\n";
    return kExitInterrupted;
  }
  return status;
}

}  // namespace softplc
