// The debugger of softplc: a command prompt on a text stream that works on the module's debug
// events. It drives the engine one cycle at a time and is the runtime's hook handler for the whole
// session; a stop is the prompt running inside the hook call, so the cycle is held there until a
// command resumes it. Between cycles the same prompt runs from the session's own loop.
//
//   (softplc) break Ramp_Int
//   breakpoint 1: Ramp_Int, the entry of every Ramp_Int block (type 14)
//   (softplc) continue
//   breakpoint 1: Ramp_Int
//   stopped: cycle 0, enter(6) 14 Ramp_Int at IntRamp (260)
#pragma once

#include <istream>
#include <ostream>

#include "softplc/engine/engine.h"

namespace softplc {

struct DebugOptions {
  bool echo = false;   // write each command after the prompt (commands from a file)
};

struct DebugOutcome {
  uint64_t cycles = 0;
  uint64_t failedCommands = 0;   // commands that were refused, or an `expect` that did not hold
  const char* signal = nullptr;  // the signal that ended the session (SIGTERM, SIGHUP)
};

// Switches the hooks on and runs the prompt until `quit` or the end of the input; the module is
// initialised and its variables set before. Commands and everything they show go to `out`; a bad
// command gets a message there and the prompt again. Fails only when the module or the runtime
// does (the clock, a cycle).
Result<DebugOutcome> debug(Engine& engine, const DebugOptions& options, std::istream& in, std::ostream& out);

}  // namespace softplc
