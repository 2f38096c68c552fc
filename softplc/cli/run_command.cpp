// softplc run: loads and attaches the module, wires the observers the options ask for, runs the
// engine and prints the report.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

#include "softplc/cli/commands.h"
#include "softplc/cli/run_options.h"
#include "softplc/engine/interrupt.h"
#include "softplc/engine/realtime.h"
#include "softplc/live/exchange.h"
#include "softplc/live/status.h"
#include "softplc/observe/error_tally.h"
#include "softplc/observe/event_printer.h"
#include "softplc/observe/plot.h"
#include "softplc/observe/reload_on_change.h"
#include "softplc/observe/statistics.h"
#include "softplc/observe/trace_observer.h"
#include "softplc/util/process.h"

namespace softplc {

namespace {

// The module, its names and everything the options name in it, checked before anything runs.
struct Prepared {
  std::unique_ptr<Plc> plc;
  std::vector<Assignment> sets;
  std::vector<Assignment> forces;
  std::vector<Variable> extras;   // --vars
};

Result<Prepared> prepare(const RunOptions& options) {
  auto plc = load_plc(options.module, options.symbols);
  if (!plc) return plc.error();
  auto sets = resolve_sets(**plc, options.sets);
  if (!sets) return sets.error();
  auto forces = resolve_forces(**plc, options.forces);
  if (!forces) return forces.error();
  auto extras = resolve_list(**plc, options.vars);
  if (!extras) return extras.error();
  if (options.plot && extras->empty() && (*plc)->symbols() == nullptr) {
    return usage_error("--plot without --vars draws the program's outputs, but " + (*plc)->symbols_note() +
                       "; name what to draw with --vars, e.g. --vars @16:INT");
  }
  return Prepared{std::move(plc).value(), std::move(sets).value(), std::move(forces).value(), std::move(extras).value()};
}

std::string module_line(const Plc& plc) {
  auto info = query_module_info(plc.module());
  std::string line = "module " + plc.module().name();
  if (info) {
    line += ": " + info->cfwText + ", code version " + info->codeVersion + ", " + std::to_string(info->ticksPerSecond) +
            " ticks/s";
    for (const auto& entryPoint : info->entryPoints) line += ", entry point " + entryPoint.name;
  }
  return line + "\n";
}

// The plot's series: the --vars, or the program's outputs that changed during the run (all of
// them when none did), with their trace columns.
PlotRequest plot_request(const RunOptions& options, const Engine& engine, const TraceObserver& trace,
                         const std::vector<const HeldVariable*>& columns, const std::vector<Variable>& extras,
                         const std::filesystem::path& csv) {
  PlotRequest request;
  request.csv = csv;
  request.output = options.plot->path;
  request.width = options.plot->width;
  request.height = options.plot->height;
  const auto add = [&](std::size_t column) {
    const Variable& variable = columns[column]->variable;
    request.series.push_back({variable.name, variable.type, column + 2});
  };
  const auto column_of = [&](const Variable& variable) {
    for (std::size_t i = 0; i < columns.size(); ++i)
      if (columns[i]->variable.offset == variable.offset && columns[i]->variable.type == variable.type) return i;
    return columns.size();
  };
  if (!extras.empty()) {
    for (const Variable& variable : extras) add(column_of(variable));
  } else {
    std::vector<std::size_t> outputs;
    for (std::size_t i = 0; i < columns.size(); ++i)
      if (columns[i]->variable.program && columns[i]->variable.direction == Direction::Output) outputs.push_back(i);
    const bool anyChanged = std::any_of(outputs.begin(), outputs.end(), [&](std::size_t i) { return trace.changed(i); });
    for (std::size_t i : outputs)
      if (!anyChanged || trace.changed(i)) add(i);
  }
  const uint64_t done = engine.cycles();
  request.title = engine.plc().module().name() + ": " + std::to_string(done) + (done == 1 ? " cycle" : " cycles") +
                  " every " + format_seconds(options.periodNs) + " s (" +
                  (options.realtime ? "real-time" : "simulated") + " clock)";
  request.firstSeconds = static_cast<double>(engine.first_time_ns().value_or(0)) / 1e9;
  request.lastSeconds = static_cast<double>(engine.last_time_ns()) / 1e9;
  request.ticksPerSecond = engine.plc().ticks_per_second();
  return request;
}

// The live channels the options ask for, made (and their options checked) before the first cycle.
Result<std::vector<std::unique_ptr<LiveChannel>>> make_channels(const RunOptions& options, const Plc& plc,
                                                                Exchange& exchange, const RunStatus& status) {
  std::vector<std::unique_ptr<LiveChannel>> channels;
  if (options.modbus) {
    auto channel = make_modbus_channel(*options.modbus, plc, exchange, status);
    if (!channel) return channel.error();
    channels.push_back(std::move(channel).value());
  }
  if (options.http) {
    auto channel = make_http_channel(*options.http, plc, exchange, status);
    if (!channel) return channel.error();
    channels.push_back(std::move(channel).value());
  }
  return channels;
}

// Stops the channels however the run ends.
class ChannelsRunning {
 public:
  explicit ChannelsRunning(std::vector<std::unique_ptr<LiveChannel>>& channels) : channels_(channels) {}
  ~ChannelsRunning() { stop(); }
  ChannelsRunning(const ChannelsRunning&) = delete;
  ChannelsRunning& operator=(const ChannelsRunning&) = delete;
  void stop() {
    for (auto& channel : channels_) channel->stop();
  }

 private:
  std::vector<std::unique_ptr<LiveChannel>>& channels_;
};

}  // namespace

int command_run(const Arguments& args, std::ostream& out, std::ostream& err) {
  auto options = run_options(args);
  if (!options) return report_error(options.error(), err);
  if (auto outputs = check_outputs(*options); !outputs) return report_error(outputs.error(), err);
  auto path = module_path(args.module);
  if (!path) return report_error(path.error(), err);
  options->module = *path;
  auto prepared = prepare(*options);
  if (!prepared) return report_error(prepared.error(), err);
  // A plot needs gnuplot at the end: find out now rather than after a long run.
  if (options->plot) {
    if (auto status = check_plotter(); !status) return report_error(status.error(), err);
  }
  Plc& attached = *prepared->plc;
  out << module_line(attached);
  if (attached.symbols() == nullptr) err << "softplc: note: " << attached.symbols_note() << "; no variables are shown\n";

  EngineOptions engineOptions;
  engineOptions.clock = options->realtime ? ClockKind::RealTime : ClockKind::Simulated;
  engineOptions.deadlines.periodNs = options->periodNs;
  // A simulated clock runs as fast as the machine allows; with a live channel it keeps pace with
  // real time, so that the outside sees the program as it would run.
  engineOptions.paced = options->live();
  engineOptions.spinNs = options->spinNs;
  Engine engine(std::move(prepared->plc), engineOptions);

  // The variables the host keeps: the program's (trace and report), then the --vars that are not
  // among them (extra trace columns).
  std::vector<const HeldVariable*> columns;
  std::size_t programCount = 0;
  if (const Symbols* symbols = engine.plc().symbols()) {
    for (const Variable* variable : symbols->program_variables()) columns.push_back(&engine.hold(*variable));
    programCount = columns.size();
  }
  for (const Variable& extra : prepared->extras) {
    const bool known = std::any_of(columns.begin(), columns.end(), [&](const HeldVariable* held) {
      return held->variable.offset == extra.offset && held->variable.type == extra.type;
    });
    if (!known) columns.push_back(&engine.hold(extra));
  }

  // From here a signal ends every wait, the open of a trace FIFO that nobody reads included.
  InterruptGuard interruptions;

  // Without --trace the plot reads a temporary trace.
  std::optional<TemporaryFile> temporaryTrace;
  std::optional<std::filesystem::path> tracePath = options->tracePath;
  if (options->plot && !tracePath) {
    temporaryTrace.emplace(".csv");
    tracePath = temporaryTrace->path();
  }
  std::optional<TraceWriter> writer;
  if (tracePath) {
    std::vector<std::string> names;
    for (const HeldVariable* column : columns) names.push_back(column->variable.name);
    auto created = TraceWriter::create(*tracePath, names);
    if (!created && interrupted()) {
      err << "softplc: interrupted by " << interrupting_signal() << " before the first cycle: " << created.error().message
          << "\n";
      return kExitInterrupted;
    }
    if (!created) return report_error(created.error(), err);
    writer.emplace(std::move(created).value());
  }

  if (auto status = engine.plc().initialise(options->startMode); !status) return report_error(status.error(), err);
  if (auto status = write_assignments(engine.plc(), prepared->sets); !status) return report_error(status.error(), err);

  // First: forces are renewed after each cycle before anybody else reads the data area.
  std::optional<Exchange> exchange;
  if (options->live() || !prepared->forces.empty()) {
    engine.observe(exchange.emplace(engine));
    exchange->set_log(&out, &err);
    for (const Assignment& force : prepared->forces) exchange->force_now(force.variable, force.bytes);
  }
  ErrorTally errors;
  engine.observe(errors);
  std::optional<EventPrinter> printer;
  if (options->events) engine.observe(printer.emplace(out, engine));
  std::optional<TraceObserver> trace;
  if (writer) engine.observe(trace.emplace(*writer, columns));
  ChangeSchedule schedule(options->replacements, out, err);
  if (schedule.planned() != 0) {
    engine.observe(schedule);
    schedule.start(engine);
  }
  std::optional<ReloadOnChange> reload;
  if (options->reloadOnChange) engine.observe(reload.emplace(options->module, out, err));
  // Last: the statistics count the work of the other observers into each cycle.
  std::optional<StatsObserver> stats;
  const bool showStats = options->realtime || options->stats || options->statsEveryNs;
  if (showStats || options->live()) {
    engine.observe(stats.emplace(out, options->periodNs, options->realtime, options->statsEveryNs));
  }
  std::optional<RunStatus> runStatus;
  std::vector<std::unique_ptr<LiveChannel>> channels;
  if (options->live()) {
    engine.observe(runStatus.emplace(engine, errors, *stats));
    auto made = make_channels(*options, engine.plc(), *exchange, *runStatus);
    if (!made) return report_error(made.error(), err);
    channels = std::move(made).value();
  }

  if (reload) {
    auto watching = reload->start();
    if (!watching) return report_error(watching.error(), err);
    out << *watching << "\n" << std::flush;
  }
  ChannelsRunning running(channels);
  if (exchange) exchange->publish_initial();
  for (auto& channel : channels) {
    auto listening = channel->start();
    if (!listening) return report_error(listening.error(), err);
    out << *listening << "\n" << std::flush;
  }
  // The cycle thread's real-time scheduling, from the first cycle to the last: the live channels'
  // threads, started before, keep ordinary scheduling.
  std::optional<RealTimeThread> realtimeThread;
  if (options->rt.scheduling || options->rt.cpu) {
    realtimeThread.emplace(options->rt);
    for (const std::string& refusal : realtimeThread->refusals()) {
      err << "softplc: note: " << refusal << "; running on without it\n";
    }
    if (const std::string granted = realtimeThread->summary(); !granted.empty()) {
      out << "real-time scheduling: " << granted << "\n";
    }
    out << std::flush;
  }
  // The clock starts last, so that the first deadline is not spent on setting up.
  if (auto started = engine.start(); !started) return report_error(started.error(), err);
  const Status ran = engine.run(options->limit);
  realtimeThread.reset();
  printer.reset();
  if (runStatus) runStatus->refresh(engine);
  running.stop();
  if (exchange) exchange->end();
  if (trace) trace->close();
  schedule.finish(engine.cycles());
  const char* signal = interrupting_signal();

  // The report.
  const uint64_t done = engine.cycles();
  if (signal != nullptr) err << "softplc: interrupted by " << signal << " after " << done << (done == 1 ? " cycle\n" : " cycles\n");
  out << "ran " << done << (done == 1 ? " cycle" : " cycles") << " every " << format_seconds(options->periodNs) << "s ("
      << (options->realtime ? "real-time" : "simulated") << " clock), last at t=" << format_seconds(engine.last_time_ns())
      << "s\n";
  for (std::size_t i = 0; i < programCount; ++i) {
    const HeldVariable& held = *columns[i];
    if (held.lost) continue;
    auto value = engine.plc().read(held.reference, held.variable);
    out << held.variable.name << " = "
        << (value ? format_for_people(held.variable.type, value->view(), engine.plc().ticks_per_second()) : "?") << "\n";
  }
  if (exchange) {
    for (const Force& force : exchange->forces()) {
      out << "forced: " << force.variable.name << " = "
          << format_for_people(force.variable.type, force.value.view(), engine.plc().ticks_per_second()) << "\n";
    }
    for (const std::string& name : exchange->take_dropped_forces()) {
      out << "forced: " << name << " released by the online change (the new module has no such variable)\n";
    }
  }
  out << errors.report();
  if (stats && showStats) out << stats->report();
  for (const auto& channel : channels) out << channel->report();
  if (reload) {
    out << "reloads: " << reload->made() << " made, " << reload->refused() << " refused; running "
        << engine.plc().module().name() << "\n";
  }
  if (schedule.planned() != 0) {
    out << "online changes: " << schedule.made() << " made, " << schedule.not_made() << " not made; running "
        << engine.plc().module().name() << "\n";
  }
  const bool traceFailed = trace && trace->failure();
  const bool traceCut = trace && trace->cut_short();
  if (traceCut) err << "softplc: note: " << *trace->cut_short() << "\n";
  if (options->tracePath && !traceFailed && !traceCut) out << "trace written to " << options->tracePath->string() << "\n";

  int status = kExitOk;
  if (!ran) {
    status = report_error(ran.error(), err);
  } else if (traceFailed) {
    status = report_error(*trace->failure(), err);
  } else if (options->plot && done != 0) {
    const PlotRequest request = plot_request(*options, engine, *trace, columns, prepared->extras, *tracePath);
    if (auto drawn = draw_plot(request); !drawn) {
      status = report_error(drawn.error(), err);
    } else {
      out << "plot written to " << options->plot->path.string() << "\n";
    }
  }
  errno = 0;
  out.flush();
  if (!out) {
    err << "softplc: cannot write the report" << (errno != 0 ? std::string(": ") + std::strerror(errno) : "") << "\n";
    return kExitFailure;
  }
  if (status != kExitOk) return status;
  if (signal != nullptr) return kExitInterrupted;
  return schedule.not_made() != 0 ? kExitChangeNotMade : kExitOk;
}

}  // namespace softplc
