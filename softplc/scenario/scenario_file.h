// Reading a scenario file: YAML (the README's "Testing the program" describes it) into scenarios
// whose every name, value, time and condition has been checked against the module's symbol file.
// A mistake is told with the file, line and column where it lies; a file with a mistake gives no
// scenario at all.
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "softplc/scenario/scenario.h"
#include "softplc/util/result.h"

namespace softplc {

// The symbol files of the modules that scenarios name, each read once.
class SymbolCache {
 public:
  // The names of the module at `module` (its program's entry point), from the symbol file beside it.
  Result<std::shared_ptr<const Symbols>> get(const std::filesystem::path& module);

 private:
  std::map<std::filesystem::path, Result<std::shared_ptr<const Symbols>>> loaded_;
};

struct ScenarioSources {
  // --module: every scenario runs this module, whatever its file names.
  std::optional<std::filesystem::path> module;
  SymbolCache* symbols = nullptr;
};

// The scenarios of the file at `path`, in the file's order (a table's rows one after another).
Result<std::vector<Scenario>> read_scenario_file(const std::filesystem::path& path, const ScenarioSources& sources);
// The same from text; `file` names it in messages and locates the files it names.
Result<std::vector<Scenario>> parse_scenario_text(std::string_view text, const std::filesystem::path& file,
                                                  const ScenarioSources& sources);

// A module file as a scenario names it: relative to `folder` (the scenario file's), else beside
// `fallback` (softplc, or the scenario's module); a name without an extension gets this platform's
// (".so", ".dll").
Result<std::filesystem::path> find_module_file(const std::string& text, const std::filesystem::path& folder,
                                               const std::filesystem::path& fallback);

}  // namespace softplc
