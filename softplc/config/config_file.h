// A run's configuration file (softplc run --config FILE, softplc config-check FILE): a YAML mapping
// whose keys are the run's options as the option table names them (run/options.h: "period",
// "realtime", "set", "http-token-file", ...), each value converted by that option's own conversion.
// A flag takes true or false; an option that may be given several times takes one value or a list
// (set and force also a mapping NAME: VALUE); a path that is not absolute is taken from the file's
// folder. Unknown keys, values that do not convert and options that a file may not hold (a secret)
// are refused with the file, line and column, before anything starts.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "softplc/run/options.h"
#include "softplc/util/result.h"

namespace softplc {

struct ConfigValue {
  std::string text;    // as the option's conversion takes it (a path made absolute)
  std::string place;   // "FILE:LINE:COLUMN"
};

struct ConfigSetting {
  const RunOption* option = nullptr;
  std::string place;   // of the key
  std::vector<ConfigValue> values;
};

struct RunConfig {
  std::filesystem::path file;
  std::vector<ConfigSetting> settings;   // in the file's order; a flag set to false is left out
};

// Reads and checks the file: each value on its own; what the options need of each other is checked
// with the command line's (make_run_plan).
Result<RunConfig> read_run_config(const std::filesystem::path& file);

// The settings as the run takes them, a line each ("period: 10ms"), for config-check.
std::string describe_config(const RunConfig& config);

}  // namespace softplc
