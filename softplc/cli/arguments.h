// What the user gave on the command line, as text: the parser fills it, the commands check and
// convert it.
#pragma once

#include <string>
#include <vector>

namespace softplc {

struct Arguments {
  std::string module;
  std::string symbols;
  std::string pattern;
  std::string helpTopic;
  std::string cycles;
  std::string duration;
  std::string period = "10ms";
  bool realtime = false;
  bool rt = false;
  std::string rtPriority;
  std::string cpu;
  std::string spin;
  bool warm = false;
  std::vector<std::string> sets;
  std::string trace;
  bool events = false;
  bool stats = false;
  std::string statsEvery;
  std::string plot;
  std::vector<std::string> plotVars;
  std::string plotSize;
  std::vector<std::string> replacements;
  bool reloadOnChange = false;
  std::vector<std::string> forces;
  std::string modbus;
  std::string modbusMap;
  bool modbusReadOnly = false;
  std::string modbusMaxClients;
  std::string modbusIdleTimeout;
  bool csv = false;
  std::string http;
  std::string httpToken;
  bool httpReadOnly = false;
  std::string script;
  // Which of the options were given at all (an empty value is then an error, not "not given").
  bool symbolsGiven = false;
  bool traceGiven = false;
  bool plotGiven = false;
  bool varsGiven = false;
  bool modbusGiven = false;
  bool modbusMapGiven = false;
  bool httpGiven = false;
  bool httpTokenGiven = false;
};

}  // namespace softplc
