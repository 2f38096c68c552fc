// The end of a run as the command line prints it, and the exit status it makes.
#include <cerrno>
#include <cstring>

#include "softplc/cli/commands.h"
#include "softplc/observe/cycle_stats.h"
#include "softplc/run/report.h"
#include "softplc/util/text.h"
#include "softplc/util/values.h"

namespace softplc {

namespace {

// The forces at the end, and those an online change released.
void print_forces(const RunReport& report, std::ostream& out) {
  for (const RunReport::Value& force : report.forces) out << "forced: " << force.name << " = " << force.text << "\n";
  for (const std::string& name : report.released) {
    out << "forced: " << name << " released by the online change (the new module has no such variable)\n";
  }
}

// What the live channels, the online changes, the trace and the plot tell; a failure before the plot.
int print_outputs(const RunReport& report, std::ostream& out, std::ostream& err) {
  for (const std::string& lines : report.channels) out << lines;
  if (report.reloads) {
    out << "reloads: " << report.reloads->made << " made, " << report.reloads->notMade << " refused; running "
        << report.module << "\n";
  }
  if (report.scheduled) {
    out << "online changes: " << report.scheduled->made << " made, " << report.scheduled->notMade
        << " not made; running " << report.module << "\n";
  }
  if (report.traceNote) err << "softplc: note: " << *report.traceNote << "\n";
  if (report.trace) out << "trace written to " << report.trace->string() << "\n";
  const int status = report.failure ? report_error(*report.failure, err) : kExitOk;
  if (report.plot) out << "plot written to " << report.plot->string() << "\n";
  return status;
}

// The report reached its reader: a full disk or a closed pipe is a failure of the run.
int flushed(std::ostream& out, std::ostream& err, int status) {
  errno = 0;
  out.flush();
  if (!out) {
    err << "softplc: cannot write the report" << (errno != 0 ? std::string(": ") + std::strerror(errno) : "") << "\n";
    return kExitFailure;
  }
  return status;
}

// "watchdog 100ms: 3 cycles took longer, the longest cycle 12 (1.503s)"
void print_watchdog(const WatchdogReport& watchdog, std::ostream& out) {
  out << "watchdog " << format_setting(static_cast<double>(watchdog.limitNs)) << ": ";
  if (watchdog.longCycles == 0) {
    out << "no cycle took longer\n";
    return;
  }
  out << plural(watchdog.longCycles, "cycle", "cycles") << " took longer, the longest cycle " << watchdog.longestCycle
      << " (" << format_duration(static_cast<double>(watchdog.longestNs)) << ")\n";
}

}  // namespace

int print_run_report(const RunReport& report, std::ostream& out, std::ostream& err) {
  const bool stoppedByWatchdog = report.watchdog && report.watchdog->stopped;
  // A run without a limit ends by a signal; any other run that a signal ends was cut short.
  const bool endedBySignal = report.signal != nullptr && !stoppedByWatchdog;
  if (endedBySignal) {
    err << "softplc: " << (report.untilStopped ? "stopped" : "interrupted") << " by " << report.signal << " after "
        << plural(report.cycles, "cycle", "cycles") << "\n";
  }
  if (stoppedByWatchdog) {
    err << "softplc: the task watchdog stopped the run after cycle " << report.watchdog->stoppedAfter << ", which took "
        << format_duration(static_cast<double>(report.watchdog->stoppedCycleNs)) << " (watchdog "
        << format_setting(static_cast<double>(report.watchdog->limitNs)) << ")\n";
  }
  out << "ran " << plural(report.cycles, "cycle", "cycles") << " every " << format_seconds(report.periodNs) << "s ("
      << (report.realtime ? "real-time" : "simulated") << " clock), last at t=" << format_seconds(report.lastTimeNs)
      << "s\n";
  for (const RunReport::Value& variable : report.variables) out << variable.name << " = " << variable.text << "\n";
  print_forces(report, out);
  out << report.errors << report.statistics;
  if (report.watchdog) print_watchdog(*report.watchdog, out);
  const int status = flushed(out, err, print_outputs(report, out, err));
  if (status != kExitOk) return status;
  if (stoppedByWatchdog) return kExitWatchdog;
  if (endedBySignal && !report.untilStopped) return kExitInterrupted;
  return report.scheduled && report.scheduled->notMade != 0 ? kExitChangeNotMade : kExitOk;
}

int print_debug_report(const RunReport& report, std::ostream& out, std::ostream& err) {
  print_forces(report, out);
  return flushed(out, err, print_outputs(report, out, err));
}

}  // namespace softplc
