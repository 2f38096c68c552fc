// A run's plan from the options of the command line and those of a configuration file: an option
// given on the command line replaces the file's (a list as a whole), and so does it replace the
// file's options that it excludes (--cycles on the command line replaces the file's duration).
// Messages name an option as its source does ("--period", "period"; one given nowhere as the file
// would) and a file's with its place.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "softplc/config/config_file.h"
#include "softplc/run/options.h"
#include "softplc/run/plan.h"

namespace softplc {

// One option of the command line with its values (a flag's: "true"), as the parser gave them.
struct GivenOption {
  const RunOption* option = nullptr;
  std::vector<std::string> texts;
};

// The plan for `command` (kForRun, kForDebug); `config` may be null.
Result<RunPlan> make_run_plan(const RunConfig* config, std::span<const GivenOption> commandLine, unsigned command);

}  // namespace softplc
