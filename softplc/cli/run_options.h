// The options of `softplc run` and `softplc debug`, checked and converted. Everything that can be
// checked without the module is checked here, before the module is loaded; names, which come from
// the module's symbol file, are resolved once it is attached (resolve_names), still before
// the first cycle.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "softplc/cli/arguments.h"
#include "softplc/engine/engine.h"
#include "softplc/engine/realtime.h"
#include "softplc/live/http/http_channel.h"
#include "softplc/live/modbus/modbus_channel.h"
#include "softplc/observe/change_schedule.h"
#include "softplc/plc/plc.h"
#include "softplc/util/values.h"

namespace softplc {

struct PlotOptions {
  std::filesystem::path path;     // the PNG file
  unsigned width = 1000;
  unsigned height = 600;
};

struct RunOptions {
  std::filesystem::path module;
  SymbolSource symbols;
  RunLimit limit;
  int64_t periodNs = 10'000'000;
  bool realtime = false;
  RealTimeOptions rt;                          // --rt, --rt-priority, --cpu
  int64_t spinNs = 0;                          // --spin
  uint32_t startMode = 0;                      // 0 cold, 1 warm
  std::vector<std::string> sets;               // NAME=VALUE, resolved against the module
  std::optional<std::filesystem::path> tracePath;
  bool events = false;
  bool stats = false;                          // statistics of a simulated run (real time always has them)
  std::optional<int64_t> statsEveryNs;
  std::optional<PlotOptions> plot;
  std::vector<std::string> vars;               // what the plot draws / the trace adds
  std::vector<Replacement> replacements;       // in cycle order, at most one per cycle
  bool reloadOnChange = false;
  std::vector<std::string> forces;             // NAME=VALUE, resolved against the module
  std::optional<ModbusOptions> modbus;
  std::optional<HttpOptions> http;
  bool live() const { return modbus || http; }
};

// A value to write into a variable before the first cycle.
struct Assignment {
  Variable variable;
  Encoded bytes;
};

// The module named on the command line, or the one beside softplc.
Result<std::filesystem::path> module_path(const std::string& given);

Result<RunOptions> run_options(const Arguments& args);

// Checks the files the run will write before anything runs: each can be created where it is named,
// and no two outputs are the same file.
Status check_outputs(const RunOptions& options);

// The --set texts as assignments to the attached module's variables: every name known, every value
// of its variable's type; nothing is written.
Result<std::vector<Assignment>> resolve_sets(const Plc& plc, const std::vector<std::string>& sets);

// The --force texts (NAME=VALUE) as assignments, checked as --set's are.
Result<std::vector<Assignment>> resolve_forces(const Plc& plc, const std::vector<std::string>& forces);

// Writes the assignments (all were checked and encoded before).
Status write_assignments(Plc& plc, const std::vector<Assignment>& assignments);

// The variables named in a list ("LagOut,IntRamp.Clock.ET", "@16:INT"), each once.
Result<std::vector<Variable>> resolve_list(const Plc& plc, const std::vector<std::string>& names);

}  // namespace softplc
