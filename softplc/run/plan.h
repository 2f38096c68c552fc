// What a run is to do: every option of `softplc run` (and of `debug`, which takes a part of them)
// as the run takes it, each with its default here and nowhere else. The option table (options.h)
// converts text (the command line's, or a configuration file's) into a plan; a run (run.h) is made
// from one.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "softplc/engine/engine.h"
#include "softplc/engine/realtime.h"
#include "softplc/live/http/http_channel.h"
#include "softplc/live/modbus/modbus_channel.h"
#include "softplc/observe/change_schedule.h"
#include "softplc/observe/task_watchdog.h"
#include "softplc/plc/plc.h"

namespace softplc {

struct PlotOptions {
  std::filesystem::path path;   // the PNG file; empty: no plot
  unsigned width = 1000;
  unsigned height = 600;
};

struct RunPlan {
  std::filesystem::path module;                  // empty: the module beside softplc
  SymbolSource symbols;                          // --symbols
  // The run's end: --cycles, or the cycles that start within --duration; neither: no end of its
  // own (a run until stopped, on the real-time clock or paced by a live channel; the debugger's run
  // ends when the session does).
  std::optional<uint64_t> cycles;
  std::optional<int64_t> durationNs;
  int64_t periodNs = 10'000'000;
  bool realtime = false;
  RealTimeOptions rt;                            // --rt, --rt-priority, --cpu
  int64_t spinNs = 0;                            // --spin
  uint32_t startMode = 0;                        // 0 cold, 1 warm (--warm)
  std::vector<std::string> sets;                 // NAME=VALUE, resolved against the module
  std::vector<std::string> forces;               // NAME=VALUE, resolved against the module
  // A front end forces and releases variables as the run goes (a scenario's steps): the run makes
  // the exchange that does it even without a force of its own.
  bool forcing = false;
  std::optional<std::filesystem::path> tracePath;
  bool events = false;
  bool stats = false;                            // statistics of a simulated run (real time always has them)
  std::optional<int64_t> statsEveryNs;
  PlotOptions plot;
  std::vector<std::string> vars;                 // what the plot draws, the trace adds
  std::vector<Replacement> replacements;         // in cycle order, at most one per cycle
  bool reloadOnChange = false;
  bool serveModbus = false;                      // --modbus, with the options below
  ModbusOptions modbus;
  bool serveHttp = false;                        // --http, with the options below
  HttpOptions http;
  TaskWatchdogOptions watchdog;                  // --watchdog, --watchdog-action
  bool serveDap = false;                         // --dap: a debug adapter that editors attach to
  ListenAddress dapAddress;
  std::string dapToken;                          // --dap-token: what a client off loopback must give

  // The live channels: the clock keeps pace with real time and the exchange takes their writes (the
  // debug adapter's forces too).
  bool live() const { return serveModbus || serveHttp || serveDap; }
  bool plotting() const { return !plot.path.empty(); }
  // Statistics are printed at the end: always in real time, in a simulated run when asked.
  bool show_stats() const { return realtime || stats || statsEveryNs.has_value(); }
  RunLimit limit() const;
  // Neither --cycles nor --duration: the run goes on until a signal ends it.
  bool until_stopped() const { return !cycles && !durationNs; }
};

}  // namespace softplc
