// The commands of softplc, each given what the command line parsed; each prints what it has to say
// and returns the exit status.
#pragma once

#include <ostream>
#include <string>

#include "softplc/cli/arguments.h"
#include "softplc/util/result.h"

namespace softplc {

struct RunPlan;     // run/plan.h
struct RunReport;   // run/report.h

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;
// The run went to its end, but an online change was refused (or its cycle not reached): the module
// that was running ran on.
inline constexpr int kExitChangeNotMade = 3;
// A signal (Ctrl-C, SIGTERM, SIGHUP) ended the run early; the trace and the report are complete. A
// run without a limit has no other end: a signal ends it with kExitOk.
inline constexpr int kExitInterrupted = 4;
// The task watchdog (--watchdog-action stop) ended the run after a cycle that took too long; the
// trace and the report are complete.
inline constexpr int kExitWatchdog = 5;
// `test`: a scenario file is wrong (it does not parse, or names what the module does not have);
// no scenario ran.
inline constexpr int kExitBadScenarioFile = 6;

// Prints "softplc: MESSAGE" (and for a usage error the pointer to --help) and gives the status.
int report_error(const Error& error, std::ostream& err);

// The end of a run as `run` prints it, with the exit status it makes; `debug` prints the lines its
// options added (forces, channels, reloads, the trace) and a failure.
int print_run_report(const RunReport& report, std::ostream& out, std::ostream& err);
int print_debug_report(const RunReport& report, std::ostream& out, std::ostream& err);

int command_info(const Arguments& args, std::ostream& out, std::ostream& err);
int command_vars(const Arguments& args, std::ostream& out, std::ostream& err);
int command_run(RunPlan plan, std::ostream& out, std::ostream& err);
int command_debug(RunPlan plan, const Arguments& args, std::ostream& out, std::ostream& err);
// The debug adapter on standard input and output (its messages there, nothing else).
int command_dap(std::ostream& err);
int command_modbus_map(const Arguments& args, std::ostream& out, std::ostream& err);
int command_test(const TestArguments& args, std::ostream& out, std::ostream& err);
int command_config_check(const std::string& file, std::ostream& out, std::ostream& err);

}  // namespace softplc
