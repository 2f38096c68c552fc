// The debugger of softplc: a command prompt on a text stream that works on the module's debug
// events. It is the runtime's hook handler for the whole session; a stop is the prompt running
// inside the hook call, so the cycle is held there until a command resumes it. Between cycles the
// same prompt runs from the session's own loop.
//
//   (softplc) break Ramp_Int
//   breakpoint 1: Ramp_Int, the entry of every Ramp_Int block (type 14)
//   (softplc) continue
//   breakpoint 1: Ramp_Int
//   stopped: cycle 0, enter(6) 14 Ramp_Int at IntRamp (260)
#pragma once

#include <cstdint>
#include <istream>
#include <ostream>
#include <vector>

#include "softplc/core/plc.h"
#include "softplc/core/runner.h"

namespace softplc {

struct DebugOptions {
  int64_t periodNs = 10'000'000;         // the simulated clock moves on by this much per cycle
  std::vector<Assignment> assignments;   // written after initialisation, before the first cycle
  bool echo = false;                     // write each command after the prompt (commands from a file)
};

// Initialises the module (cold start), writes the assignments, switches the global hook switch
// on and runs the prompt until `quit` or the end of the input. Commands and everything they show
// go to `out`; a bad command gets a message there and the prompt again. Fails only when the
// module or the runtime does (initialisation, the clock, the assignments).
Status debug(Plc& plc, const DebugOptions& options, std::istream& in, std::ostream& out);

// Whether standard input is a terminal (a person types); otherwise the commands are echoed.
bool stdin_is_terminal();

}  // namespace softplc
