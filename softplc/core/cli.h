// The softplc command line: commands info, vars, run, debug and help; exit status 0 (done), 1 (the
// module, the runtime or a file failed) or 2 (the command line is wrong).
#pragma once

#include <ostream>

namespace softplc {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;
// The run went to its end, but an online change was refused (or not reached): the module that
// was running ran on.
inline constexpr int kExitChangeNotMade = 3;

int run_command_line(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

}  // namespace softplc
