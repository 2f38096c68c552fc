#include "softplc/core/runner.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <map>
#include <thread>

#include "rtlib/include/kxrt.h"
#include "softplc/core/events.h"
#include "softplc/core/platform.h"
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

// The hook switch is on only while the events are printed.
class HookSwitch {
 public:
  HookSwitch(Plc& plc, bool on) : plc_(plc) { plc_.set_hooks(on); }
  ~HookSwitch() { plc_.set_hooks(false); }
  HookSwitch(const HookSwitch&) = delete;
  HookSwitch& operator=(const HookSwitch&) = delete;

 private:
  Plc& plc_;
};

// Per error code (the first one a cycle recorded): in how many cycles, and the first of them.
struct ErrorTally {
  uint64_t cycles = 0;
  uint64_t firstCycle = 0;
  int64_t firstTimeNs = 0;
};

std::string runtime_failure(const char* what) {
  const char* message = kxrt_last_message();
  return std::string(what) + (message != nullptr && *message != '\0' ? std::string(": ") + message : "");
}

Status read_row(const Plc& plc, const std::vector<const Symbol*>& variables, BoolStyle style,
                std::vector<std::string>& values) {
  values.clear();
  for (const Symbol* symbol : variables) {
    auto bytes = plc.read(*symbol);
    if (!bytes) return bytes.error();
    values.push_back(format_value(symbol->type, bytes->view(), style));
  }
  return ok_status();
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

// Every value is checked and encoded before the first one is written: a bad one writes nothing.
Status write_assignments(Plc& plc, const std::vector<Assignment>& assignments) {
  std::vector<Encoded> encoded;
  for (const Assignment& assignment : assignments) {
    auto bytes = encode(assignment.value, plc.ticks_per_second());
    if (!bytes) return usage_error(assignment.symbol->name + ": " + bytes.error().message);
    encoded.push_back(*bytes);
  }
  for (std::size_t i = 0; i < assignments.size(); ++i) {
    if (auto status = plc.write(*assignments[i].symbol, encoded[i].view()); !status) return status;
  }
  return ok_status();
}

Status run(Plc& plc, const RunOptions& options, std::ostream& out, std::ostream& err) {
  // Without the data area the symbol table describes, the cycles still run, but nothing is read
  // or written by name.
  const Status names = plc.variable_access();
  if (!names && (options.tracePath || !options.assignments.empty())) return names;
  const std::vector<const Symbol*> variables = names ? program_variables() : std::vector<const Symbol*>{};
  if (!names) err << "softplc: note: " << names.error().message << "; no variables are shown\n";

  std::optional<TraceWriter> trace;
  if (options.tracePath) {
    std::vector<std::string> columns;
    for (const Symbol* symbol : variables) columns.push_back(symbol->name);
    auto writer = TraceWriter::create(*options.tracePath, columns);
    if (!writer) return writer.error();
    trace.emplace(std::move(writer).value());
  }

  if (auto status = plc.initialise(options.startMode); !status) return status;
  if (auto status = write_assignments(plc, options.assignments); !status) return status;

  std::optional<EventPrinter> printer;
  if (options.events) printer.emplace(out);
  HookSwitch hooks(plc, options.events);
  InterruptGuard interrupt;
  std::optional<FineTimerResolution> fineTimer;
  if (options.realtime) fineTimer.emplace();

  // The runtime's clock starts at 0 here, together with the host's deadlines.
  if (auto status = select_clock(options.realtime); !status) return status;
  using Clock = std::chrono::steady_clock;
  const Clock::time_point start = Clock::now();
  const std::chrono::nanoseconds period(options.periodNs);
  uint64_t late = 0;
  uint64_t done = 0;
  int64_t lastTimeNs = 0;
  std::map<int32_t, ErrorTally> errors;
  std::vector<std::string> row;

  for (uint64_t k = 0; k < options.cycles && gInterrupted == 0; ++k) {
    if (options.realtime) {
      // Absolute deadlines: a late cycle does not shift the ones after it.
      const Clock::time_point deadline = start + std::chrono::duration_cast<Clock::duration>(period * static_cast<int64_t>(k));
      if (Clock::now() > deadline) {
        if (k > 0) ++late;
      } else {
        std::this_thread::sleep_until(deadline);
      }
    } else if (k > 0) {
      if (auto status = advance_clock(options.periodNs); !status) return status;
    }
    const int64_t timeNs = latch_cycle();
    lastTimeNs = timeNs;

    if (printer) printer->begin_cycle(k, timeNs);
    plc.cycle();
    ++done;

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
      if (auto status = read_row(plc, variables, BoolStyle::Digit, row); !status) return status;
      if (auto status = trace->write_row(timeNs, row); !status) return status;
    }
  }
  if (trace) {
    if (auto status = trace->close(); !status) return status;
  }

  if (gInterrupted != 0) err << "softplc: interrupted after " << done << " cycles\n";
  out << "ran " << done << (done == 1 ? " cycle" : " cycles") << " every " << format_seconds(options.periodNs) << "s ("
      << (options.realtime ? "real-time" : "simulated") << " clock), last at t=" << format_seconds(lastTimeNs)
      << "s\n";
  if (late != 0) out << late << " cycles started after their deadline\n";
  if (auto status = read_row(plc, variables, BoolStyle::Word, row); !status) return status;
  for (std::size_t i = 0; i < variables.size(); ++i) out << variables[i]->name << " = " << row[i] << "\n";
  for (const auto& [code, tally] : errors) {
    out << "error " << code << " recorded in " << tally.cycles << (tally.cycles == 1 ? " cycle" : " cycles")
        << " (first in cycle " << tally.firstCycle << " at t=" << format_seconds(tally.firstTimeNs) << "s)\n";
  }
  if (trace) out << "trace written to " << trace->path().string() << "\n";
  return ok_status();
}

}  // namespace softplc
