// A test run over scenario files: the files a list of files and folders names, every scenario read
// and checked before any runs, the scenarios a filter and a shard select, and running them one after
// another in this process or side by side in processes of their own (softplc starting itself for
// one scenario each, since the runtime libraries run one program per process).
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "softplc/scenario/outcome.h"
#include "softplc/scenario/scenario.h"
#include "softplc/scenario/scenario_file.h"
#include "softplc/util/result.h"

namespace softplc {

// The scenario files that `paths` name: a file as given, a folder's *.yaml and *.yml files in it and
// in its subfolders, sorted by path. A path that does not exist, or a folder without scenario files,
// is refused.
Result<std::vector<std::filesystem::path>> scenario_files(const std::vector<std::string>& paths);

// Every scenario of the files, read and checked; every bad file's mistake is in `mistakes` (and then
// no scenario should run).
struct SuiteContents {
  std::vector<Scenario> scenarios;
  std::vector<std::string> mistakes;
};
SuiteContents read_suite(const std::vector<std::filesystem::path>& files, const ScenarioSources& sources);

// --shard K/N.
struct Shard {
  unsigned index = 1;   // K, from 1
  unsigned count = 1;   // N
};
Result<Shard> parse_shard(std::string_view text);

// The scenarios to run, in the files' order: those whose id ("FILE: NAME") holds `filter` (any case;
// all when empty), and of them the shard's part: taken in the order of their files' paths and names,
// the i-th of them belongs to shard i mod N + 1, so that a scenario's shard depends only on the
// scenarios there are, and every shard gets as many as another, or one less.
std::vector<const Scenario*> select_scenarios(const std::vector<Scenario>& scenarios, std::string_view filter,
                                              const Shard& shard);

// How one scenario is run in a process of its own: the command line that runs it (softplc test
// --one FILE --index I --outcome FILE.json ...), given the outcome file it writes.
using ChildCommand = std::function<std::vector<std::string>(const Scenario& scenario,
                                                            const std::filesystem::path& outcomeFile)>;

// Runs the scenarios and gives their outcomes in the same order; `done` is told each outcome in that
// order as soon as it and those before it are there. jobs 1: one after another in this process;
// more: that many child processes at a time (`self` with the arguments `command` gives). A signal
// (Ctrl-C) ends the run after what runs now; the scenarios that did not run have no outcome.
std::vector<ScenarioOutcome> run_suite(const std::vector<const Scenario*>& scenarios, unsigned jobs,
                                       const std::function<ScenarioOutcome(const Scenario&)>& runHere,
                                       const std::filesystem::path& self, const ChildCommand& command,
                                       const std::function<void(const ScenarioOutcome&)>& done);

}  // namespace softplc
