// Runs the cycles of an attached module: initialisation with a start mode, the variables set from
// the command line, the clock (simulated or real time), the trace file, the debug events and the
// error information of each cycle.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <ostream>
#include <vector>

#include "softplc/core/plc.h"

namespace softplc {

struct Assignment {
  const Symbol* symbol = nullptr;
  Value value;
};

struct RunOptions {
  uint64_t cycles = 1;
  int64_t periodNs = 10'000'000;
  bool realtime = false;
  uint32_t startMode = 0;              // 0 cold, 1 warm
  std::vector<Assignment> assignments;   // written after initialisation, before the first cycle
  std::optional<std::filesystem::path> tracePath;
  bool events = false;
};

// The steps of a run that the debugger shares with it.
// Selects the runtime's clock (simulated or monotonic) and starts it at 0.
Status select_clock(bool realtime);
// Moves the simulated clock on by `ns` nanoseconds.
Status advance_clock(int64_t ns);
// Latches the clock for the cycle about to run and clears the cycle's error information; gives the
// cycle's time in nanoseconds.
int64_t latch_cycle();
// Writes the values; every one is checked and encoded before the first is written.
Status write_assignments(Plc& plc, const std::vector<Assignment>& assignments);

// Runs the whole session and prints, at the end, the program's variables as "name = value" and a
// summary of the errors the cycles recorded. `out` gets the report (and the events), `err` notes.
Status run(Plc& plc, const RunOptions& options, std::ostream& out, std::ostream& err);

}  // namespace softplc
