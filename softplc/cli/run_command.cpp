// softplc run: makes the run the plan describes, runs it to its limit and prints its report.
#include <optional>
#include <sstream>

#include "softplc/cli/commands.h"
#include "softplc/dap/service.h"
#include "softplc/run/run.h"

namespace softplc {

int command_run(RunPlan plan, std::ostream& out, std::ostream& err) {
  auto run = Run::load(std::move(plan), RunLog{out, err});
  if (!run) return report_error(run.error(), err);
  out << (*run)->module_line() << "\n";
  const Plc& plc = (*run)->engine().plc();
  if (plc.symbols() == nullptr) err << "softplc: note: " << plc.symbols_note() << "; no variables are shown\n";
  // An editor's debugger takes part in the run from its start (--dap).
  std::optional<dap::Service> adapter;
  if ((*run)->plan().serveDap) adapter.emplace(**run);
  if (auto started = (*run)->start(); !started) {
    // A signal that came while the run was setting up (waiting for a trace FIFO's reader) ends it.
    if (const char* signal = interrupting_signal()) {
      const bool untilStopped = (*run)->plan().until_stopped();
      err << "softplc: " << (untilStopped ? "stopped" : "interrupted") << " by " << signal
          << " before the first cycle: " << started.error().message << "\n";
      return untilStopped ? kExitOk : kExitInterrupted;
    }
    return report_error(started.error(), err);
  }
  if (adapter) {
    auto listening = adapter->start();
    if (!listening) return report_error(listening.error(), err);
    out << *listening << "\n" << std::flush;
  }
  (void)(*run)->run_to_limit();
  RunReport report = (*run)->finish();
  if (!adapter) return print_run_report(report, out, err);
  // The editor hears the end too: the report and the exit status.
  report.channels.push_back(adapter->report() + "\n");
  std::ostringstream told;
  const int told_status = print_run_report(report, told, told);
  adapter->end(told.str(), told_status);
  return print_run_report(report, out, err);
}

}  // namespace softplc
