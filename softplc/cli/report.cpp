// The end of a run as the command line prints it, and the exit status it makes.
#include <cerrno>
#include <cstring>

#include "softplc/cli/commands.h"
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

}  // namespace

int print_run_report(const RunReport& report, std::ostream& out, std::ostream& err) {
  if (report.signal != nullptr) {
    err << "softplc: interrupted by " << report.signal << " after " << plural(report.cycles, "cycle", "cycles") << "\n";
  }
  out << "ran " << plural(report.cycles, "cycle", "cycles") << " every " << format_seconds(report.periodNs) << "s ("
      << (report.realtime ? "real-time" : "simulated") << " clock), last at t=" << format_seconds(report.lastTimeNs)
      << "s\n";
  for (const RunReport::Value& variable : report.variables) out << variable.name << " = " << variable.text << "\n";
  print_forces(report, out);
  out << report.errors << report.statistics;
  const int status = flushed(out, err, print_outputs(report, out, err));
  if (status != kExitOk) return status;
  if (report.signal != nullptr) return kExitInterrupted;
  return report.scheduled && report.scheduled->notMade != 0 ? kExitChangeNotMade : kExitOk;
}

int print_debug_report(const RunReport& report, std::ostream& out, std::ostream& err) {
  print_forces(report, out);
  return flushed(out, err, print_outputs(report, out, err));
}

}  // namespace softplc
