// What a run tells at its end, as data: the command line prints it (`run` all of it, `debug` what
// its options added), another front end may show it otherwise.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "softplc/observe/task_watchdog.h"
#include "softplc/util/result.h"

namespace softplc {

struct RunReport {
  std::string module;                  // the module that ran last
  uint64_t cycles = 0;
  int64_t periodNs = 0;
  bool realtime = false;
  int64_t lastTimeNs = 0;              // the last cycle's time
  const char* signal = nullptr;        // the signal that ended the run early, or null
  bool untilStopped = false;           // the run had no limit: a signal is its end

  struct Value {
    std::string name;
    std::string text;                  // as people read it ("TRUE", "T#1s"); "?" when it cannot be read
  };
  std::vector<Value> variables;        // the program's, at the end (those the module still has)
  std::vector<Value> forces;           // forced at the end
  std::vector<std::string> released;   // forces an online change released (the new module lacks them)
  std::string errors;                  // the errors the cycles recorded, a line each
  std::string statistics;              // the cycle statistics; "" when they are not shown

  std::vector<std::string> channels;   // each live channel's lines
  struct Changes {
    std::size_t made = 0;
    std::size_t notMade = 0;           // refused, or (scheduled) their cycle not reached
  };
  std::optional<Changes> reloads;      // --reload-on-change
  std::optional<Changes> scheduled;    // --replace-at

  std::optional<std::filesystem::path> trace;   // --trace, written whole
  std::optional<std::string> traceNote;         // why a signal left the trace short
  std::optional<std::filesystem::path> plot;    // --plot, drawn
  std::optional<WatchdogReport> watchdog;   // --watchdog
  std::optional<Error> failure;        // the run, the trace or the plot failed (the first of them)
};

}  // namespace softplc
