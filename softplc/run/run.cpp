#include "softplc/run/run.h"

#include <algorithm>
#include <exception>

#include "softplc/observe/plot.h"
#include "softplc/util/text.h"
#include "softplc/util/values.h"

namespace softplc {

namespace {

bool same_variable(const Variable& a, const Variable& b) { return a.offset == b.offset && a.type == b.type; }

// The live channels the plan asks for, made (and their options checked) before the first cycle.
Result<std::vector<std::unique_ptr<LiveChannel>>> make_channels(const RunPlan& plan, const Plc& plc,
                                                                Exchange& exchange, const RunStatus& status) {
  std::vector<std::unique_ptr<LiveChannel>> channels;
  if (plan.serveModbus) {
    auto channel = make_modbus_channel(plan.modbus, plc, exchange, status);
    if (!channel) return channel.error();
    channels.push_back(std::move(channel).value());
  }
  if (plan.serveHttp) {
    auto channel = make_http_channel(plan.http, plc, exchange, status);
    if (!channel) return channel.error();
    channels.push_back(std::move(channel).value());
  }
  return channels;
}

// What went wrong in a step of stopping, kept for the report rather than thrown past the others.
template <class Step>
void step(std::optional<Error>& failure, const char* what, Step&& run) noexcept {
  try {
    run();
  } catch (const std::exception& e) {
    if (!failure) failure = runtime_error(std::string("while ") + what + ": " + e.what());
  } catch (...) {
    if (!failure) failure = runtime_error(std::string("while ") + what + ": an unknown failure");
  }
}

}  // namespace

Run::Run(RunPlan plan, RunLog log) : plan_(std::move(plan)), log_(log) {}

Run::~Run() { stop(); }

Result<std::unique_ptr<Run>> Run::load(RunPlan plan, RunLog log) {
  if (auto outputs = check_outputs(plan); !outputs) return outputs.error();
  auto path = module_path(plan.module);
  if (!path) return path.error();
  plan.module = *path;
  auto plc = load_plc(plan.module, plan.symbols);
  if (!plc) return plc.error();
  return make(std::move(plan), std::move(plc).value(), log);
}

Result<std::unique_ptr<Run>> Run::make(RunPlan plan, std::unique_ptr<Plc> plc, RunLog log, EngineServices services) {
  std::unique_ptr<Run> run(new Run(std::move(plan), log));
  if (auto prepared = run->prepare(std::move(plc), std::move(services)); !prepared) return prepared.error();
  return run;
}

Status Run::prepare(std::unique_ptr<Plc> plc, EngineServices services) {
  auto sets = resolve_sets(*plc, plan_.sets);
  if (!sets) return sets.error();
  auto forces = resolve_forces(*plc, plan_.forces);
  if (!forces) return forces.error();
  auto extras = resolve_list(*plc, plan_.vars);
  if (!extras) return extras.error();
  if (plan_.plotting() && extras->empty() && plc->symbols() == nullptr) {
    return usage_error("--plot without --vars draws the program's outputs, but " + plc->symbols_note() +
                       "; name what to draw with --vars, e.g. --vars @16:INT");
  }
  // A plot needs gnuplot at the end: find out now rather than after a long run.
  if (plan_.plotting()) {
    if (auto status = check_plotter(); !status) return status;
  }
  sets_ = std::move(sets).value();
  forces_ = std::move(forces).value();
  extras_ = std::move(extras).value();

  EngineOptions options;
  options.clock = plan_.realtime ? ClockKind::RealTime : ClockKind::Simulated;
  options.deadlines.periodNs = plan_.periodNs;
  // A simulated clock runs as fast as the machine allows; with a live channel it keeps pace with
  // real time, so that the outside sees the program as it would run.
  options.paced = plan_.live();
  options.spinNs = plan_.spinNs;
  engine_ = std::make_unique<Engine>(std::move(plc), options, std::move(services));
  return ok_status();
}

// The program's variables are held for the trace and for the report's values; the text debugger
// shows values its own way, so under it they are held only for a trace (an editor's session gets
// the report).
void Run::hold_columns() {
  if (frontEnd_ != nullptr && !plan_.serveDap && !plan_.tracePath && !plan_.plotting()) return;
  if (const Symbols* symbols = engine_->plc().symbols()) {
    for (const Variable* variable : symbols->program_variables()) columns_.push_back(&engine_->hold(*variable));
    programColumns_ = columns_.size();
  }
  for (const Variable& extra : extras_) {
    const bool known = std::any_of(columns_.begin(), columns_.end(),
                                   [&](const HeldVariable* held) { return same_variable(held->variable, extra); });
    if (!known) columns_.push_back(&engine_->hold(extra));
  }
}

std::string Run::module_line() const {
  const Plc& plc = engine_->plc();
  auto info = query_module_info(plc.module());
  std::string line = "module " + plc.module().name();
  if (info) {
    line += ": " + info->cfwText + ", code version " + info->codeVersion + ", " + std::to_string(info->ticksPerSecond) +
            " ticks/s";
    for (const auto& entryPoint : info->entryPoints) line += ", entry point " + entryPoint.name;
  }
  return line;
}

Status Run::start() {
  // From here a signal ends every wait, the open of a trace FIFO that nobody reads included.
  interruptions_.emplace();
  hold_columns();
  // Without --trace the plot reads a temporary trace.
  tracePath_ = plan_.tracePath;
  if (plan_.plotting() && !tracePath_) {
    temporaryTrace_.emplace(".csv");
    tracePath_ = temporaryTrace_->path();
  }
  if (tracePath_) {
    std::vector<std::string> names;
    for (const HeldVariable* column : columns_) names.push_back(column->variable.name);
    auto created = TraceWriter::create(*tracePath_, names);
    if (!created) return created.error();
    writer_.emplace(std::move(created).value());
  }
  Plc& plc = engine_->plc();
  if (auto status = plc.initialise(plan_.startMode); !status) return status;
  if (auto status = write_assignments(plc, sets_); !status) return status;
  if (auto status = make_participants(); !status) return status;
  for (const ParticipantPlace& place : kParticipantOrder) {
    if (CycleObserver* observer = participant(place.participant)) engine_->observe(*observer);
  }

  if (reload_) {
    auto watching = reload_->start();
    if (!watching) return watching.error();
    log_.out << *watching << "\n" << std::flush;
  }
  if (exchange_) exchange_->publish_initial();
  for (auto& channel : channels_) {
    auto listening = channel->start();
    if (!listening) return listening.error();
    log_.out << *listening << "\n" << std::flush;
  }
  // The cycle thread's real-time scheduling, from the first cycle to the last: the live channels'
  // threads, started before, keep ordinary scheduling.
  if (plan_.rt.scheduling || plan_.rt.cpu) {
    realtimeThread_.emplace(plan_.rt);
    for (const std::string& refusal : realtimeThread_->refusals()) {
      log_.err << "softplc: note: " << refusal << "; running on without it\n";
    }
    if (const std::string granted = realtimeThread_->summary(); !granted.empty()) {
      log_.out << "real-time scheduling: " << granted << "\n";
    }
    log_.out << std::flush;
  }
  // The clock starts last, so that the first deadline is not spent on setting up.
  return engine_->start();
}

Status Run::make_participants() {
  if (plan_.live() || !forces_.empty() || plan_.forcing) {
    exchange_.emplace(*engine_);
    exchange_->set_log(&log_.out, &log_.err);
    for (const Assignment& force : forces_) exchange_->force_now(force.variable, force.bytes);
  }
  if (plan_.events) printer_.emplace(log_.out, *engine_);
  if (writer_) trace_.emplace(*writer_, columns_);
  if (!plan_.replacements.empty()) {
    schedule_.emplace(plan_.replacements, log_.out, log_.err);
    schedule_->start(*engine_);
  }
  if (plan_.reloadOnChange) reload_.emplace(plan_.module, log_.out, log_.err);
  if (plan_.watchdog.limitNs) watchdog_.emplace(plan_.watchdog, log_.err);
  // A service manager hears of the cycles of `run`; a front end's run is not a service.
  const std::optional<ServiceManager> manager = frontEnd_ == nullptr ? service_manager() : std::nullopt;
  if (plan_.show_stats() || plan_.live() || manager) {
    stats_.emplace(log_.out, plan_.periodNs, plan_.realtime, plan_.statsEveryNs);
  }
  if (manager) service_.emplace(*manager, plan_.realtime, *stats_, errors_);
  if (plan_.live()) {
    status_.emplace(*engine_, errors_, *stats_);
    auto made = make_channels(plan_, engine_->plc(), *exchange_, *status_);
    if (!made) return made.error();
    channels_ = std::move(made).value();
  }
  return ok_status();
}

CycleObserver* Run::participant(Participant who) {
  const auto present = [](auto& optional) -> CycleObserver* { return optional ? &*optional : nullptr; };
  switch (who) {
    case Participant::Exchange: return present(exchange_);
    case Participant::ErrorTally: return &errors_;
    case Participant::Watchdog: return present(watchdog_);
    case Participant::FrontEnd: return frontEnd_;
    case Participant::EventPrinter: return present(printer_);
    case Participant::Trace: return present(trace_);
    case Participant::ChangeSchedule: return present(schedule_);
    case Participant::Reload: return present(reload_);
    case Participant::Statistics: return present(stats_);
    case Participant::Status: return present(status_);
    case Participant::Service: return present(service_);
  }
  return nullptr;
}

Status Run::run_to_limit() {
  const Status ran = engine_->run(plan_.limit());
  if (!ran && !failure_) failure_ = ran.error();
  return ran;
}

void Run::stop() {
  if (stopped_) return;
  stopped_ = true;
  step(failure_, "telling the service manager", [&] {
    if (service_) service_->stopping();
  });
  step(failure_, "giving back the real-time scheduling", [&] { realtimeThread_.reset(); });
  // The printer writes out what it holds and lets the hooks go.
  step(failure_, "ending the event printer", [&] { printer_.reset(); });
  if (!engine_) return;
  step(failure_, "taking the last status", [&] {
    if (status_) status_->refresh(*engine_);
  });
  for (auto& channel : channels_) step(failure_, "stopping a live channel", [&] { channel->stop(); });
  step(failure_, "ending the exchange", [&] {
    if (exchange_) exchange_->end();
  });
  step(failure_, "completing the trace", [&] {
    if (trace_) trace_->close();
  });
  step(failure_, "ending the online changes", [&] {
    if (schedule_) schedule_->finish(engine_->cycles());
  });
  step(failure_, "ending the task watchdog", [&] {
    if (watchdog_) watchdog_->end();
  });
}

RunReport Run::finish() {
  stop();
  RunReport made = report();
  if (!made.failure && plan_.plotting() && made.cycles != 0 && trace_) draw(made);
  return made;
}

RunReport Run::report() {
  RunReport report;
  const Engine& engine = *engine_;
  const Plc& plc = engine.plc();
  report.module = plc.module().name();
  report.cycles = engine.cycles();
  report.periodNs = plan_.periodNs;
  report.realtime = plan_.realtime;
  report.lastTimeNs = engine.last_time_ns();
  report.signal = interrupting_signal();
  report.untilStopped = plan_.until_stopped();
  if (watchdog_) report.watchdog = watchdog_->report();
  for (std::size_t i = 0; i < programColumns_; ++i) {
    const HeldVariable& held = *columns_[i];
    if (held.lost) continue;
    auto value = plc.read(held.reference, held.variable);
    const uint32_t ticks = plc.ticks_per_second();
    report.variables.push_back(
        {held.variable.name, value ? format_for_people(held.variable.type, value->view(), ticks) : "?"});
  }
  if (exchange_) {
    for (const Force& force : exchange_->forces()) {
      report.forces.push_back(
          {force.variable.name, format_for_people(force.variable.type, force.value.view(), plc.ticks_per_second())});
    }
    report.released = exchange_->take_dropped_forces();
  }
  report.errors = errors_.report();
  if (stats_ && plan_.show_stats()) report.statistics = stats_->report();
  for (const auto& channel : channels_) report.channels.push_back(channel->report());
  if (reload_) report.reloads = RunReport::Changes{reload_->made(), reload_->refused()};
  if (schedule_) report.scheduled = RunReport::Changes{schedule_->made(), schedule_->not_made()};
  const bool traceFailed = trace_ && trace_->failure();
  if (trace_ && trace_->cut_short()) report.traceNote = *trace_->cut_short();
  if (plan_.tracePath && !traceFailed && !report.traceNote) report.trace = *plan_.tracePath;
  if (failure_) {
    report.failure = failure_;
  } else if (traceFailed) {
    report.failure = *trace_->failure();
  }
  return report;
}

// The plot's series: the --vars, or the program's outputs that changed during the run (all of
// them when none did), with their trace columns.
void Run::draw(RunReport& report) {
  const Engine& engine = *engine_;
  PlotRequest request;
  request.csv = *tracePath_;
  request.output = plan_.plot.path;
  request.width = plan_.plot.width;
  request.height = plan_.plot.height;
  const auto add = [&](std::size_t column) {
    const Variable& variable = columns_[column]->variable;
    request.series.push_back({variable.name, variable.type, column + 2});
  };
  const auto column_of = [&](const Variable& variable) {
    for (std::size_t i = 0; i < columns_.size(); ++i)
      if (same_variable(columns_[i]->variable, variable)) return i;
    return columns_.size();
  };
  if (!extras_.empty()) {
    for (const Variable& variable : extras_) add(column_of(variable));
  } else {
    std::vector<std::size_t> outputs;
    for (std::size_t i = 0; i < columns_.size(); ++i)
      if (columns_[i]->variable.program && columns_[i]->variable.direction == Direction::Output) outputs.push_back(i);
    const bool anyChanged =
        std::any_of(outputs.begin(), outputs.end(), [&](std::size_t i) { return trace_->changed(i); });
    for (std::size_t i : outputs)
      if (!anyChanged || trace_->changed(i)) add(i);
  }
  request.title = engine.plc().module().name() + ": " + plural(engine.cycles(), "cycle", "cycles") + " every " +
                  format_seconds(plan_.periodNs) + " s (" + (plan_.realtime ? "real-time" : "simulated") + " clock)";
  request.firstSeconds = static_cast<double>(engine.first_time_ns().value_or(0)) / 1e9;
  request.lastSeconds = static_cast<double>(engine.last_time_ns()) / 1e9;
  request.ticksPerSecond = engine.plc().ticks_per_second();
  if (auto drawn = draw_plot(request); !drawn) {
    report.failure = drawn.error();
  } else {
    report.plot = plan_.plot.path;
  }
}

}  // namespace softplc
