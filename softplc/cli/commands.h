// The commands of softplc, each given the parsed arguments; each returns the exit status.
#pragma once

#include <ostream>

#include "softplc/cli/arguments.h"
#include "softplc/util/result.h"

namespace softplc {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;
// The run went to its end, but an online change was refused (or its cycle not reached): the module
// that was running ran on.
inline constexpr int kExitChangeNotMade = 3;
// A signal (Ctrl-C, SIGTERM, SIGHUP) ended the run early; the trace and the report are complete.
inline constexpr int kExitInterrupted = 4;

// Prints "softplc: MESSAGE" (and for a usage error the pointer to --help) and gives the status.
int report_error(const Error& error, std::ostream& err);

int command_info(const Arguments& args, std::ostream& out, std::ostream& err);
int command_vars(const Arguments& args, std::ostream& out, std::ostream& err);
int command_run(const Arguments& args, std::ostream& out, std::ostream& err);
int command_debug(const Arguments& args, std::ostream& out, std::ostream& err);
int command_modbus_map(const Arguments& args, std::ostream& out, std::ostream& err);

}  // namespace softplc
