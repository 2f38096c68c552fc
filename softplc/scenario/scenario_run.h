// Running one scenario: the run its plan describes, on the simulated clock, with its checker in the
// front end's place; before each cycle the scenario's actions due then (an online change, releases,
// forces, writes). The runtime libraries are the process's own, so one scenario runs at a time in a
// process.
#pragma once

#include <filesystem>
#include <optional>

#include "softplc/scenario/outcome.h"
#include "softplc/scenario/scenario.h"

namespace softplc {

struct ScenarioRunOptions {
  // --trace-failures: a failed scenario leaves its trace (CSV) and a plot of what it checks around
  // its first failure here; a scenario that passed leaves nothing.
  std::optional<std::filesystem::path> traceFolder;
};

ScenarioOutcome run_scenario(const Scenario& scenario, const ScenarioRunOptions& options);

// The file name (without its extension) of a scenario's trace and plot: its file's stem and its name
// in letters, digits, '-', '_' and '.' ("ramps--IntRamp_rises").
std::string trace_file_stem(const Scenario& scenario);

}  // namespace softplc
