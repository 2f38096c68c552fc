// Runs the cycles of an attached module: initialisation with a start mode, the variables set from
// the command line, the clock (simulated or real time, with cycle statistics), the trace file and
// its plot, online changes between cycles, the debug events and the error information of each
// cycle.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>
#include <vector>

#include "softplc/core/plc.h"

namespace softplc {

struct Assignment {
  const Symbol* symbol = nullptr;
  Value value;
};

struct PlotOptions {
  std::filesystem::path path;              // the PNG file
  std::vector<const Symbol*> variables;    // what is drawn; variables that are not the program's
                                           // own are traced as extra columns
  unsigned width = 1000;
  unsigned height = 600;
};

// Before cycle `beforeCycle` (counted from 0), the module at `module` replaces the running one.
struct Replacement {
  uint64_t beforeCycle = 0;
  std::filesystem::path module;
};

struct RunOptions {
  uint64_t cycles = 1;
  // The run was given as a duration: in real time it ends with the last deadline inside the
  // duration (`cycles` deadlines), even when deadlines were skipped.
  bool untilDuration = false;
  int64_t periodNs = 10'000'000;
  bool realtime = false;
  uint32_t startMode = 0;              // 0 cold, 1 warm
  std::vector<Assignment> assignments;   // written after initialisation, before the first cycle
  std::optional<std::filesystem::path> tracePath;
  bool events = false;
  bool stats = false;                  // statistics of a simulated run (a real-time run always has them)
  std::optional<int64_t> statsEveryNs;   // also print the statistics of every interval this long
  std::optional<PlotOptions> plot;
  std::vector<Replacement> replacements;   // in cycle order, at most one per cycle
};

struct RunOutcome {
  uint64_t cycles = 0;
  // Online changes that did not happen (refused, or their cycle was not reached); the module
  // that was running went on running.
  uint64_t changesNotMade = 0;
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

// Runs the whole session and prints, at the end, the program's variables as "name = value", a
// summary of the errors the cycles recorded and the cycle statistics. `out` gets the report (and
// the events), `err` notes and refusals. After an online change `plc` holds the new module.
Result<RunOutcome> run(std::unique_ptr<Plc>& plc, const RunOptions& options, std::ostream& out, std::ostream& err);

}  // namespace softplc
