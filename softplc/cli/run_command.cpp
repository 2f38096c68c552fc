// softplc run: makes the run the plan describes, runs it to its limit and prints its report.
#include "softplc/cli/commands.h"
#include "softplc/run/run.h"

namespace softplc {

int command_run(RunPlan plan, std::ostream& out, std::ostream& err) {
  auto run = Run::load(std::move(plan), RunLog{out, err});
  if (!run) return report_error(run.error(), err);
  out << (*run)->module_line() << "\n";
  const Plc& plc = (*run)->engine().plc();
  if (plc.symbols() == nullptr) err << "softplc: note: " << plc.symbols_note() << "; no variables are shown\n";
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
  (void)(*run)->run_to_limit();
  return print_run_report((*run)->finish(), out, err);
}

}  // namespace softplc
