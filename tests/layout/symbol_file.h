// The symbol files that the build writes beside the modules, parsed.
#pragma once

#include <fstream>
#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

inline nlohmann::json symbol_file(const std::string& module) {
  const std::string path = std::string(KX_BIN_DIR) + "/" + module + ".symbols.json";
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot read " + path);
  return nlohmann::json::parse(in);
}

// The one entry point of the module's symbol file.
inline nlohmann::json entry_point(const std::string& module) {
  return symbol_file(module).at("entryPoints").at(0);
}
