// What the user gave on the command line to the commands that are not runs (info, vars,
// modbus-map, help) and the debugger's own --script, as text: the parser fills it, the commands
// check and convert it. The options of a run go through the run's option table (run/options.h).
#pragma once

#include <string>

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

}  // namespace softplc
