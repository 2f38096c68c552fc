// The debugger of softplc: a command prompt on a text stream that works on the module's debug
// events. It takes part in a run (run/run.h) as its front end: it starts the run, drives its engine
// one cycle at a time and is the runtime's hook handler for the whole session; a stop is the prompt
// running inside the hook call, so the cycle is held there until a command resumes it. Between
// cycles the same prompt runs from the session's own loop. Whatever else the run has (forces, the
// trace, the live channels, reloads) goes on around it: a held cycle holds them too.
//
//   (softplc) break Ramp_Int
//   breakpoint 1: Ramp_Int, the entry of every Ramp_Int block (type 14)
//   (softplc) continue
//   breakpoint 1: Ramp_Int
//   stopped: cycle 0, enter(6) 14 Ramp_Int at IntRamp (260)
#pragma once

#include <istream>
#include <ostream>

#include "softplc/run/run.h"

namespace softplc {

struct DebugOptions {
  bool echo = false;   // write each command after the prompt (commands from a file)
};

struct DebugOutcome {
  uint64_t cycles = 0;
  uint64_t failedCommands = 0;   // commands that were refused, or an `expect` that did not hold
  const char* signal = nullptr;  // the signal that ended the session (SIGTERM, SIGHUP)
};

// Starts the run (which initialises the module and writes its --set values), switches the hooks on
// and runs the prompt until `quit` or the end of the input. Commands and everything they show go to
// `out`; a bad command gets a message there and the prompt again. Fails only when the run cannot
// start, or the module or the runtime fails (the clock, a cycle). The run is not stopped.
Result<DebugOutcome> debug(Run& run, const DebugOptions& options, std::istream& in, std::ostream& out);

}  // namespace softplc
