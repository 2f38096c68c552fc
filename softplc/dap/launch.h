// A launch request's arguments as a run plan: the run's options by their names in the option table
// (run/options.h), also in camelCase ("reloadOnChange"), with `program` for the module, `set` and
// `force` as lists of NAME=VALUE or as objects, and the session's own `stopOnEntry`, `noDebug` and
// `cwd`. An attribute that is neither (and not one that editors add of themselves) is refused.
#pragma once

#include "softplc/dap/framing.h"
#include "softplc/run/plan.h"

namespace softplc::dap {

struct Launch {
  RunPlan plan;
  bool stopOnEntry = false;
  bool noDebug = false;
};

Result<Launch> launch_plan(const Json& arguments);

}  // namespace softplc::dap
