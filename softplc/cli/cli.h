// The softplc command line: commands info, vars, run, debug and help. The exit statuses are those
// of commands.h.
#pragma once

#include <ostream>

namespace softplc {

int run_command_line(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

}  // namespace softplc
