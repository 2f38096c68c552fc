#include "softplc/scenario/suite.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "softplc/engine/interrupt.h"
#include "softplc/util/files.h"
#include "softplc/util/process.h"
#include "softplc/util/text.h"

namespace softplc {

namespace {

bool is_scenario_file(const std::filesystem::path& path) {
  const std::string extension = lower(path.extension().string());
  return extension == ".yaml" || extension == ".yml";
}

// A scenario in a process of its own may run for long; one that runs for an hour is stopped.
constexpr std::chrono::milliseconds kChildTimeout{std::chrono::hours(1)};

ScenarioOutcome broken_outcome(const Scenario& scenario, std::string why) {
  ScenarioOutcome outcome;
  outcome.file = scenario.file;
  outcome.name = scenario.name;
  outcome.line = scenario.line;
  outcome.status = ScenarioOutcome::Status::Broken;
  outcome.error = std::move(why);
  return outcome;
}

// One scenario in a child process: started, waited for, and its outcome read from the file it wrote.
ScenarioOutcome run_child(const Scenario& scenario, const std::filesystem::path& self, const ChildCommand& command) {
  TemporaryFile file(".json");
  const auto started = std::chrono::steady_clock::now();
  auto status = run_program(self.string(), command(scenario, file.path()), "", kChildTimeout);
  if (!status) return broken_outcome(scenario, status.error().message);
  auto bytes = read_file_bytes(file.path(), uint64_t{64} << 20);
  if (*status != 0 || !bytes) {
    return broken_outcome(scenario, "its process ended with status " + std::to_string(*status) +
                                        (bytes ? std::string() : " without an outcome"));
  }
  auto outcome = outcome_from_json(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
  if (!outcome) return broken_outcome(scenario, outcome.error().message);
  if (outcome->wallSeconds == 0) {
    outcome->wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  }
  return std::move(outcome).value();
}

}  // namespace

Result<std::vector<std::filesystem::path>> scenario_files(const std::vector<std::string>& paths) {
  std::vector<std::filesystem::path> files;
  for (const std::string& text : paths) {
    const std::filesystem::path path(text);
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
      std::vector<std::filesystem::path> found;
      for (auto it = std::filesystem::recursive_directory_iterator(path, ec);
           !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_regular_file(ec) && is_scenario_file(it->path())) found.push_back(it->path());
      }
      if (ec) return usage_error("cannot read the folder " + display_path(path) + ": " + ec.message());
      if (found.empty()) return usage_error("the folder " + display_path(path) + " holds no scenario files (*.yaml, *.yml)");
      std::sort(found.begin(), found.end());
      files.insert(files.end(), found.begin(), found.end());
    } else if (std::filesystem::exists(path, ec)) {
      files.push_back(path);
    } else {
      return usage_error("no such file or folder: " + display_path(path));
    }
  }
  return files;
}

SuiteContents read_suite(const std::vector<std::filesystem::path>& files, const ScenarioSources& sources) {
  SuiteContents contents;
  for (const std::filesystem::path& file : files) {
    auto scenarios = read_scenario_file(file, sources);
    if (!scenarios) {
      contents.mistakes.push_back(scenarios.error().message);
      continue;
    }
    for (Scenario& scenario : *scenarios) contents.scenarios.push_back(std::move(scenario));
  }
  return contents;
}

Result<Shard> parse_shard(std::string_view text) {
  const auto slash = text.find('/');
  const auto index = whole_number<unsigned>(text.substr(0, slash));
  const auto count = slash == std::string_view::npos ? std::nullopt : whole_number<unsigned>(text.substr(slash + 1));
  if (!index || !count || *count == 0 || *index == 0 || *index > *count) {
    return usage_error("--shard expects K/N with 1 <= K <= N (e.g. 2/4), got '" + shown(text) + "'");
  }
  return Shard{*index, *count};
}

std::vector<const Scenario*> select_scenarios(const std::vector<Scenario>& scenarios, std::string_view filter,
                                              const Shard& shard) {
  std::vector<const Scenario*> matching;
  const std::string wanted = lower(filter);
  for (const Scenario& scenario : scenarios) {
    if (wanted.empty() || lower(scenario_id(scenario)).find(wanted) != std::string::npos) matching.push_back(&scenario);
  }
  if (shard.count == 1) return matching;
  std::vector<const Scenario*> sorted = matching;
  std::stable_sort(sorted.begin(), sorted.end(), [](const Scenario* a, const Scenario* b) {
    const std::string fileA = std::filesystem::path(a->file).generic_string();
    const std::string fileB = std::filesystem::path(b->file).generic_string();
    return fileA != fileB ? fileA < fileB : a->name < b->name;
  });
  std::vector<const Scenario*> mine;
  for (const Scenario* scenario : matching) {
    const auto place = static_cast<std::size_t>(std::find(sorted.begin(), sorted.end(), scenario) - sorted.begin());
    if (place % shard.count == shard.index - 1) mine.push_back(scenario);
  }
  return mine;
}

std::vector<ScenarioOutcome> run_suite(const std::vector<const Scenario*>& scenarios, unsigned jobs,
                                       const std::function<ScenarioOutcome(const Scenario&)>& runHere,
                                       const std::filesystem::path& self, const ChildCommand& command,
                                       const std::function<void(const ScenarioOutcome&)>& done) {
  std::vector<ScenarioOutcome> outcomes;
  if (jobs <= 1) {
    for (const Scenario* scenario : scenarios) {
      if (interrupted()) break;
      outcomes.push_back(runHere(*scenario));
      done(outcomes.back());
    }
    return outcomes;
  }
  std::vector<std::optional<ScenarioOutcome>> results(scenarios.size());
  std::mutex mutex;
  std::condition_variable ready;
  std::atomic<std::size_t> next{0};
  std::size_t finishedWorkers = 0;
  const unsigned workers = std::min<std::size_t>(jobs, scenarios.size());
  std::vector<std::thread> threads;
  for (unsigned w = 0; w < workers; ++w) {
    threads.emplace_back([&] {
      for (std::size_t i = next++; i < scenarios.size() && !interrupted(); i = next++) {
        ScenarioOutcome outcome = run_child(*scenarios[i], self, command);
        const std::lock_guard lock(mutex);
        results[i] = std::move(outcome);
        ready.notify_all();
      }
      const std::lock_guard lock(mutex);
      ++finishedWorkers;
      ready.notify_all();
    });
  }
  // Told in the scenarios' order, each as soon as it and those before it are there.
  std::size_t told = 0;
  {
    std::unique_lock lock(mutex);
    while (told < scenarios.size()) {
      ready.wait(lock, [&] { return results[told].has_value() || finishedWorkers == workers; });
      if (!results[told]) break;
      lock.unlock();
      done(*results[told]);
      lock.lock();
      ++told;
    }
  }
  for (std::thread& thread : threads) thread.join();
  for (std::size_t i = 0; i < told; ++i) outcomes.push_back(std::move(*results[i]));
  return outcomes;
}

}  // namespace softplc
