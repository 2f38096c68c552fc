// softplc config-check FILE: the configuration file checked as `run --config FILE` would take it,
// without running; its settings and the run they make.
#include "softplc/cli/commands.h"
#include "softplc/config/config_file.h"
#include "softplc/config/plan_sources.h"
#include "softplc/observe/cycle_stats.h"
#include "softplc/util/files.h"
#include "softplc/util/text.h"

namespace softplc {

int command_config_check(const std::string& file, std::ostream& out, std::ostream& err) {
  if (file.empty()) return report_error(usage_error("config-check needs a file name"), err);
  auto config = read_run_config(file);
  if (!config) return report_error(config.error(), err);
  auto plan = make_run_plan(&*config, {}, kForRun);
  if (!plan) return report_error(plan.error(), err);
  out << display_path(file) << ": valid\n" << describe_config(*config);
  const std::string end = plan->cycles           ? plural(*plan->cycles, "cycle", "cycles")
                          : plan->durationNs     ? "for " + format_setting(static_cast<double>(*plan->durationNs))
                                                 : std::string("until stopped");
  out << "the run: " << end << ", every " << format_setting(static_cast<double>(plan->periodNs)) << " on the "
      << (plan->realtime ? "real-time" : "simulated") << " clock\n";
  return kExitOk;
}

}  // namespace softplc
