#include "softplc/core/runner.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <limits>
#include <map>
#include <thread>

#include "kxrt.h"
#include "softplc/core/cycle_stats.h"
#include "softplc/core/events.h"
#include "softplc/core/online_change.h"
#include "softplc/core/platform.h"
#include "softplc/core/plot.h"
#include "softplc/core/process.h"
#include "softplc/core/trace.h"

namespace softplc {

namespace {

// Ctrl-C ends a run after the cycle in progress, so that the end report is still printed.
volatile std::sig_atomic_t gInterrupted = 0;

extern "C" void on_interrupt(int) { gInterrupted = 1; }

class InterruptGuard {
 public:
  InterruptGuard() {
    gInterrupted = 0;
    previous_ = std::signal(SIGINT, &on_interrupt);
  }
  ~InterruptGuard() { std::signal(SIGINT, previous_ == SIG_ERR ? SIG_DFL : previous_); }
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;

 private:
  void (*previous_)(int) = SIG_DFL;
};

// The hook switch is on only while the events are printed; it follows the module across an
// online change.
class HookSwitch {
 public:
  HookSwitch(std::unique_ptr<Plc>& plc, bool on) : plc_(plc) { plc_->set_hooks(on); }
  ~HookSwitch() {
    if (plc_) plc_->set_hooks(false);
  }
  HookSwitch(const HookSwitch&) = delete;
  HookSwitch& operator=(const HookSwitch&) = delete;

 private:
  std::unique_ptr<Plc>& plc_;
};

// Per error code (the first one a cycle recorded): in how many cycles, and the first of them.
struct ErrorTally {
  uint64_t cycles = 0;
  uint64_t firstCycle = 0;
  int64_t firstTimeNs = 0;
};

// A variable and the reference the host keeps to it.
struct Kept {
  const Symbol* symbol = nullptr;
  DataRef reference{};
};

std::string runtime_failure(const char* what) {
  const char* message = kxrt_last_message();
  return std::string(what) + (message != nullptr && *message != '\0' ? std::string(": ") + message : "");
}

Result<std::vector<Kept>> keep(const Plc& plc, const std::vector<const Symbol*>& symbols) {
  std::vector<Kept> kept;
  for (const Symbol* symbol : symbols) {
    auto reference = plc.reference(*symbol);
    if (!reference) return reference.error();
    kept.push_back({symbol, *reference});
  }
  return kept;
}

// Every value is checked and encoded before the first one is written: a bad one writes nothing.
Status write_kept(Plc& plc, const std::vector<Assignment>& assignments, const std::vector<Kept>& kept) {
  std::vector<Encoded> encoded;
  for (const Assignment& assignment : assignments) {
    auto bytes = encode(assignment.value, plc.ticks_per_second());
    if (!bytes) return usage_error(assignment.symbol->name + ": " + bytes.error().message);
    encoded.push_back(*bytes);
  }
  for (std::size_t i = 0; i < assignments.size(); ++i) {
    if (auto status = plc.write(kept[i].reference, *kept[i].symbol, encoded[i].view()); !status) return status;
  }
  return ok_status();
}

Status read_row(const Plc& plc, std::span<const Kept> variables, BoolStyle style, std::vector<std::string>& values) {
  values.clear();
  for (const Kept& variable : variables) {
    auto bytes = plc.read(variable.reference, *variable.symbol);
    if (!bytes) return bytes.error();
    values.push_back(format_value(variable.symbol->type, bytes->view(), style));
  }
  return ok_status();
}

// Sleeps until the runtime's clock reads `ns`, or until Ctrl-C. Some systems end a sleep early
// (Windows counts in its timer's steps), so the clock has the last word; long waits are cut into
// slices of 100 ms so that Ctrl-C does not wait for a long period to pass.
void wait_until(int64_t ns) {
  constexpr int64_t kSlice = 100'000'000;
  for (int64_t left = ns - kxrt_clock_now_ns(); left > 0 && gInterrupted == 0; left = ns - kxrt_clock_now_ns()) {
    std::this_thread::sleep_for(std::chrono::nanoseconds(std::min(left, kSlice)));
  }
}

int64_t steady_ns() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::string hex32(uint32_t value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%08X", static_cast<unsigned>(value));
  return buffer;
}

}  // namespace

Status select_clock(bool realtime) {
  if (kxrt_clock_select(realtime ? KXRT_CLOCK_MONOTONIC : KXRT_CLOCK_SIMULATED) != 0)
    return runtime_error(runtime_failure("the runtime refused the clock"));
  return ok_status();
}

Status advance_clock(int64_t ns) {
  if (kxrt_clock_advance_ns(ns) != 0) return runtime_error(runtime_failure("the runtime refused to advance the clock"));
  return ok_status();
}

int64_t latch_cycle() {
  kxrt_clock_latch();
  kxdbg_begin_cycle();
  return kxrt_clock_latched_ns();
}

Status write_assignments(Plc& plc, const std::vector<Assignment>& assignments) {
  std::vector<const Symbol*> symbols;
  for (const Assignment& assignment : assignments) symbols.push_back(assignment.symbol);
  auto kept = keep(plc, symbols);
  if (!kept) return kept.error();
  return write_kept(plc, assignments, *kept);
}

Result<RunOutcome> run(std::unique_ptr<Plc>& plc, const RunOptions& options, std::ostream& out, std::ostream& err) {
  // Without the data area the symbol table describes, the cycles still run, but nothing is read
  // or written by name.
  const Status names = plc->variable_access();
  if (!names && (options.tracePath || options.plot || !options.assignments.empty())) return names.error();
  if (!names) err << "softplc: note: " << names.error().message << "; no variables are shown\n";

  // The references the host keeps: the program's variables (trace and end report), then the
  // plotted variables that are not among them, and the variables set before the first cycle.
  std::vector<const Symbol*> watchedSymbols = names ? program_variables() : std::vector<const Symbol*>{};
  const std::size_t programCount = watchedSymbols.size();
  if (options.plot) {
    for (const Symbol* symbol : options.plot->variables)
      if (std::find(watchedSymbols.begin(), watchedSymbols.end(), symbol) == watchedSymbols.end())
        watchedSymbols.push_back(symbol);
  }
  auto watched = keep(*plc, watchedSymbols);
  if (!watched) return watched.error();
  std::vector<const Symbol*> assignedSymbols;
  for (const Assignment& assignment : options.assignments) assignedSymbols.push_back(assignment.symbol);
  auto assigned = keep(*plc, assignedSymbols);
  if (!assigned) return assigned.error();

  // A plot needs gnuplot at the end: find out now rather than after a long run. Without --trace
  // the plot reads a temporary trace.
  std::optional<TemporaryFile> temporaryTrace;
  std::optional<std::filesystem::path> tracePath = options.tracePath;
  if (options.plot) {
    if (auto status = check_plotter(); !status) return status.error();
    if (!tracePath) {
      temporaryTrace.emplace(".csv");
      tracePath = temporaryTrace->path();
    }
  }
  std::optional<TraceWriter> trace;
  if (tracePath) {
    std::vector<std::string> columns;
    for (const Kept& variable : *watched) columns.push_back(variable.symbol->name);
    auto writer = TraceWriter::create(*tracePath, columns);
    if (!writer) return writer.error();
    trace.emplace(std::move(writer).value());
  }

  if (auto status = plc->initialise(options.startMode); !status) return status.error();
  if (auto status = write_kept(*plc, options.assignments, *assigned); !status) return status.error();

  std::optional<EventPrinter> printer;
  if (options.events) printer.emplace(out);
  HookSwitch hooks(plc, options.events);
  InterruptGuard interrupt;
  std::optional<FineTimerResolution> fineTimer;
  if (options.realtime) fineTimer.emplace();

  // The runtime's clock starts at 0 here. In real time the host waits for the deadlines on the
  // runtime's own clock, so the time the timers read and the deadlines are one time line.
  if (auto status = select_clock(options.realtime); !status) return status.error();
  const int64_t period = options.periodNs;
  auto now = [&] { return options.realtime ? kxrt_clock_now_ns() : steady_ns(); };

  const bool showStats = options.realtime || options.stats || options.statsEveryNs.has_value();
  CycleStats total(period);
  CycleStats interval(period);
  int64_t intervalStart = 0;
  int64_t nextReport = options.statsEveryNs ? *options.statsEveryNs : std::numeric_limits<int64_t>::max();

  RunOutcome outcome;
  uint64_t deadline = 0;   // index of the deadline of the next cycle: due at deadline × period
  std::size_t nextChange = 0;
  std::string moduleName = plc->module().name();
  int64_t firstTimeNs = 0;
  int64_t lastTimeNs = 0;
  std::map<int32_t, ErrorTally> errors;
  std::vector<std::string> row;
  std::vector<HeldReference> held;

  auto finished = [&] {
    return options.realtime && options.untilDuration ? deadline >= options.cycles : outcome.cycles >= options.cycles;
  };
  while (!finished() && gInterrupted == 0) {
    const uint64_t k = outcome.cycles;

    // Online change, between the previous cycle and this one.
    for (; nextChange < options.replacements.size() && options.replacements[nextChange].beforeCycle == k; ++nextChange) {
      const Replacement& replacement = options.replacements[nextChange];
      held.clear();
      for (std::vector<Kept>* list : {&*watched, &*assigned})
        for (Kept& variable : *list) held.push_back({&variable.reference, variable.symbol->name});
      auto change = change_module(*plc, replacement.module, held);
      if (!change) {
        err << "softplc: online change before cycle " << k << " to " << replacement.module.string() << " refused, "
            << moduleName << " keeps running: " << change.error().message << "\n";
        ++outcome.changesNotMade;
        continue;
      }
      out << "before cycle " << k << ": online change from " << moduleName << " (layout " << hex32(change->oldLayout)
          << ") to " << change->info.name << " (layout " << hex32(change->newLayout) << ", " << change->info.codeVersion
          << "), " << held.size() << (held.size() == 1 ? " reference" : " references") << " mapped\n";
      // From here the new module runs the cycles; the old one is unregistered and unloaded.
      plc = std::move(change->plc);
      moduleName = change->info.name;
    }

    int64_t due = 0;
    if (options.realtime) {
      // Absolute deadlines: a late cycle does not shift the ones after it. A cycle that starts a
      // whole period or more after its deadline takes the latest deadline that has passed; the
      // ones in between are skipped rather than run back to back.
      wait_until(static_cast<int64_t>(deadline) * period);
      if (gInterrupted != 0) break;
      const uint64_t reached = static_cast<uint64_t>(std::max<int64_t>(0, latch_cycle()) / period);
      if (reached > deadline) {
        const uint64_t last = options.untilDuration ? std::min(reached, options.cycles) : reached;
        total.add_skipped(last - deadline);
        interval.add_skipped(last - deadline);
        deadline = reached;
        if (finished()) break;
      }
      due = static_cast<int64_t>(deadline) * period;
    } else {
      if (k > 0) {
        if (auto status = advance_clock(period); !status) return status.error();
      }
      due = latch_cycle();
    }
    const int64_t timeNs = kxrt_clock_latched_ns();
    if (k == 0) firstTimeNs = timeNs;
    lastTimeNs = timeNs;

    if (printer) printer->begin_cycle(k, timeNs);
    const int64_t before = now();
    plc->cycle();
    const int64_t execution = now() - before;
    ++outcome.cycles;
    ++deadline;

    if (kxdbg_cycle_error_count() != 0) {
      const int32_t code = kxdbg_cycle_first_error();
      ErrorTally& tally = errors[code];
      if (tally.cycles++ == 0) {
        tally.firstCycle = k;
        tally.firstTimeNs = timeNs;
      }
      if (printer) {
        out << "cycle " << k << ": error " << code << " (" << kxdbg_cycle_error_count() << " recorded)\n";
      }
    }
    if (trace) {
      if (auto status = read_row(*plc, *watched, BoolStyle::Digit, row); !status) return status.error();
      if (auto status = trace->write_row(timeNs, row); !status) return status.error();
    }

    // In a simulated run the deadlines are the simulated times, always met.
    const CycleTiming timing{due, timeNs, execution, options.realtime ? now() : timeNs};
    total.add(timing);
    interval.add(timing);
    if (options.statsEveryNs && timeNs + period >= nextReport) {
      out << format_stats(interval, "t=" + format_seconds(intervalStart) + "s to " + format_seconds(nextReport) + "s",
                          options.realtime)
          << std::flush;
      interval.restart();
      while (timeNs + period >= nextReport) {
        intervalStart = nextReport;
        if (nextReport > std::numeric_limits<int64_t>::max() - *options.statsEveryNs) {
          nextReport = std::numeric_limits<int64_t>::max();
          break;
        }
        nextReport += *options.statsEveryNs;
      }
    }
  }
  if (trace) {
    if (auto status = trace->close(); !status) return status.error();
  }
  for (; nextChange < options.replacements.size(); ++nextChange) {
    err << "softplc: online change before cycle " << options.replacements[nextChange].beforeCycle << " to "
        << options.replacements[nextChange].module.string() << " not made: the run ended after " << outcome.cycles
        << (outcome.cycles == 1 ? " cycle\n" : " cycles\n");
    ++outcome.changesNotMade;
  }

  const uint64_t done = outcome.cycles;
  if (gInterrupted != 0) err << "softplc: interrupted after " << done << " cycles\n";
  out << "ran " << done << (done == 1 ? " cycle" : " cycles") << " every " << format_seconds(period) << "s ("
      << (options.realtime ? "real-time" : "simulated") << " clock), last at t=" << format_seconds(lastTimeNs)
      << "s\n";
  if (auto status = read_row(*plc, std::span<const Kept>(*watched).first(programCount), BoolStyle::Word, row); !status)
    return status.error();
  for (std::size_t i = 0; i < programCount; ++i) out << (*watched)[i].symbol->name << " = " << row[i] << "\n";
  for (const auto& [code, tally] : errors) {
    out << "error " << code << " recorded in " << tally.cycles << (tally.cycles == 1 ? " cycle" : " cycles")
        << " (first in cycle " << tally.firstCycle << " at t=" << format_seconds(tally.firstTimeNs) << "s)\n";
  }
  if (showStats) out << format_stats(total, "whole run", options.realtime);
  if (!options.replacements.empty()) {
    const uint64_t made = options.replacements.size() - outcome.changesNotMade;
    out << "online changes: " << made << " made, " << outcome.changesNotMade << " not made; running " << moduleName
        << "\n";
  }
  if (options.tracePath) out << "trace written to " << options.tracePath->string() << "\n";

  if (options.plot) {
    PlotRequest request;
    request.csv = *tracePath;
    request.output = options.plot->path;
    request.width = options.plot->width;
    request.height = options.plot->height;
    for (const Symbol* symbol : options.plot->variables) {
      const auto at = std::find(watchedSymbols.begin(), watchedSymbols.end(), symbol) - watchedSymbols.begin();
      request.series.push_back({symbol->name, symbol->type, static_cast<std::size_t>(at) + 2});
    }
    request.title = moduleName + ": " + std::to_string(done) + (done == 1 ? " cycle" : " cycles") + " every " +
                    format_seconds(period) + " s (" + (options.realtime ? "real-time" : "simulated") + " clock)";
    request.firstSeconds = static_cast<double>(firstTimeNs) / 1e9;
    request.lastSeconds = static_cast<double>(lastTimeNs) / 1e9;
    request.ticksPerSecond = plc->ticks_per_second();
    if (done != 0) {
      if (auto status = draw_plot(request); !status) return status.error();
      out << "plot written to " << options.plot->path.string() << "\n";
    }
  }
  return outcome;
}

}  // namespace softplc
