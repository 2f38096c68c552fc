// One run of a module, below every front end: made from a plan, it attaches the module, resolves
// the names the plan gives, and assembles around the engine what the plan asks for: the exchange
// with its forces, the error tally, the event printer, the trace, the online changes at fixed
// cycles and on a changed file, the statistics and the status, in the order of order.h, with the
// live channels, the file watch and the real-time thread. `softplc run` starts it, runs it to its
// limit and prints its report; `softplc debug` starts the same run with the debugger as one more
// participant and drives the cycles itself.
//
// Ending is one call, stop(), made by finish() or at the latest by the destructor, whatever failed
// before: the real-time thread ends, the channels stop, the exchange answers what is pending, the
// trace is completed; the report can be made after any failure.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "softplc/engine/engine.h"
#include "softplc/engine/interrupt.h"
#include "softplc/engine/realtime.h"
#include "softplc/live/channel.h"
#include "softplc/live/exchange.h"
#include "softplc/live/status.h"
#include "softplc/observe/change_schedule.h"
#include "softplc/observe/error_tally.h"
#include "softplc/observe/event_printer.h"
#include "softplc/observe/reload_on_change.h"
#include "softplc/observe/statistics.h"
#include "softplc/observe/task_watchdog.h"
#include "softplc/observe/trace_observer.h"
#include "softplc/run/order.h"
#include "softplc/run/plan.h"
#include "softplc/run/prepare.h"
#include "softplc/run/report.h"
#include "softplc/service/service_notices.h"
#include "softplc/util/process.h"

namespace softplc {

// Where a run tells what happens as it goes: what it started, the online changes, the events and
// the statistics on `out`; notes and refusals, as messages of softplc, on `err`.
struct RunLog {
  std::ostream& out;
  std::ostream& err;
};

class Run {
 public:
  // Checks that the plan's outputs can be written, loads and attaches the module (the plan's, or
  // the one beside softplc) and resolves the plan's names in it. Nothing runs yet.
  static Result<std::unique_ptr<Run>> load(RunPlan plan, RunLog log);
  // The same with a module attached already (one made of functions of this process, in a test),
  // and the engine's services (a fake clock) where given.
  static Result<std::unique_ptr<Run>> make(RunPlan plan, std::unique_ptr<Plc> plc, RunLog log,
                                           EngineServices services = {});
  ~Run();
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;

  const RunPlan& plan() const { return plan_; }
  Engine& engine() { return *engine_; }
  // The exchange of the forces and the live channels; null when the plan has neither.
  Exchange* exchange() { return exchange_ ? &*exchange_ : nullptr; }
  // What the live channels report of the run; null without a live channel. Made by start().
  RunStatus* status() { return status_ ? &*status_ : nullptr; }
  // "module CCodePublic: VERSION, code version ..., 1193182 ticks/s, entry point ...".
  std::string module_line() const;

  // A participant besides the plan's own, told in the place of a front end (order.h): the debugger.
  // Before start().
  void add_front_end(CycleObserver& frontEnd) { frontEnd_ = &frontEnd; }

  // From here a signal ends every wait of the run. Creates the trace, initialises the module with
  // the plan's start mode and writes the --set values, adds the participants to the engine in their
  // order, starts the file watch and the live channels (and says where they listen), takes the
  // real-time scheduling and starts the clock. The first cycle comes next.
  Status start();
  // Runs the cycles to the plan's limit, a stop or a signal, on the calling thread.
  Status run_to_limit();
  // Ends the run (once; later calls do nothing): see above. A service manager is told first.
  void stop();
  // Stops the run, draws the plot when there is one, and gives the report.
  RunReport finish();

 private:
  Run(RunPlan plan, RunLog log);
  Status prepare(std::unique_ptr<Plc> plc, EngineServices services);
  Status make_participants();
  CycleObserver* participant(Participant who);
  void hold_columns();
  RunReport report();
  void draw(RunReport& report);

  RunPlan plan_;
  RunLog log_;
  std::vector<Assignment> sets_;
  std::vector<Assignment> forces_;
  std::vector<Variable> extras_;                     // --vars
  std::unique_ptr<Engine> engine_;
  // The variables the host keeps from the start on: the program's (trace and report), then the
  // --vars that are not among them (extra trace columns).
  std::vector<const HeldVariable*> columns_;
  std::size_t programColumns_ = 0;

  std::optional<InterruptGuard> interruptions_;
  std::optional<TemporaryFile> temporaryTrace_;     // the plot's trace without --trace
  std::optional<std::filesystem::path> tracePath_;
  std::optional<TraceWriter> writer_;
  // The participants (order.h).
  std::optional<Exchange> exchange_;
  ErrorTally errors_;
  std::optional<TaskWatchdog> watchdog_;
  CycleObserver* frontEnd_ = nullptr;
  std::optional<EventPrinter> printer_;
  std::optional<TraceObserver> trace_;
  std::optional<ChangeSchedule> schedule_;
  std::optional<ReloadOnChange> reload_;
  std::optional<StatsObserver> stats_;
  std::optional<RunStatus> status_;
  std::optional<ServiceNotices> service_;
  std::vector<std::unique_ptr<LiveChannel>> channels_;
  std::optional<RealTimeThread> realtimeThread_;

  bool stopped_ = false;
  std::optional<Error> failure_;   // of the cycles, or of stopping
};

}  // namespace softplc
