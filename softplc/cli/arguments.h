// What the user gave on the command line to the commands that are not runs (info, vars,
// modbus-map, help) and the debugger's own --script, as text: the parser fills it, the commands
// check and convert it. The options of a run go through the run's option table (run/options.h).
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace softplc {

struct Arguments {
  std::string module;
  std::string symbols;
  std::string pattern;
  std::string helpTopic;
  std::string modbusMap;
  bool csv = false;
  std::string script;
  // Which of the options were given at all (an empty value is then an error, not "not given").
  bool symbolsGiven = false;
  bool modbusMapGiven = false;
};

// What `softplc test` was given, as text.
struct TestArguments {
  std::vector<std::string> paths;          // FILE|DIR ...
  unsigned jobs = 1;                       // -j
  std::string junit;                       // --junit FILE.xml
  std::string traceFailures;               // --trace-failures DIR
  std::string shard;                       // --shard K/N
  std::string filter;                      // --filter PATTERN
  std::string module;                      // --module MODULE
  // A scenario run in a process of its own for -j: its file, its place in the file, and where its
  // outcome goes (hidden options).
  std::string one;
  unsigned index = 0;
  std::string outcome;
};

}  // namespace softplc
