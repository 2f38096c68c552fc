#include "softplc/config/plan_sources.h"

#include <algorithm>

#include "softplc/util/files.h"

namespace softplc {

namespace {

// One option as the plan takes it, from the command line or from the file.
struct Source {
  const RunOption* option = nullptr;
  const GivenOption* given = nullptr;       // from the command line
  const ConfigSetting* setting = nullptr;   // from the file
};

const GivenOption* on_command_line(std::span<const GivenOption> commandLine, std::string_view name) {
  for (const GivenOption& given : commandLine)
    if (given.option->name == name) return &given;
  return nullptr;
}

// The file's option is replaced by the command line's, or by one there that cannot go with it.
bool replaced(const RunOption& option, std::span<const GivenOption> commandLine) {
  if (on_command_line(commandLine, option.name) != nullptr) return true;
  if (!option.excludes.empty() && on_command_line(commandLine, option.excludes) != nullptr) return true;
  return std::any_of(commandLine.begin(), commandLine.end(),
                     [&](const GivenOption& given) { return given.option->excludes == option.name; });
}

}  // namespace

Result<RunPlan> make_run_plan(const RunConfig* config, std::span<const GivenOption> commandLine, unsigned command) {
  std::vector<Source> sources;
  std::vector<std::string_view> fromCommandLine;
  for (const RunOption& option : run_options()) {
    if (const GivenOption* given = on_command_line(commandLine, option.name)) {
      sources.push_back({&option, given, nullptr});
      fromCommandLine.push_back(option.name);
      continue;
    }
    if (config == nullptr || replaced(option, commandLine)) continue;
    for (const ConfigSetting& setting : config->settings) {
      if (setting.option != &option) continue;
      sources.push_back({&option, nullptr, &setting});
    }
  }

  PlanBuilder builder(OptionSpelling{"--", config != nullptr ? &fromCommandLine : nullptr});
  for (const Source& source : sources) (void)builder.note(source.option->name);
  // What the options given need of each other comes before what is wrong with their values.
  for (const Source& source : sources) {
    auto related = builder.check_needs(source.option->name);
    if (related) continue;
    if (source.setting != nullptr) return usage_error(source.setting->place + ": " + related.error().message);
    return related.error();
  }
  for (const Source& source : sources) {
    if (source.given != nullptr) {
      for (const std::string& text : source.given->texts) {
        if (auto status = builder.give(source.option->name, text); !status) return status.error();
      }
      continue;
    }
    for (const ConfigValue& value : source.setting->values) {
      if (auto status = builder.give(source.option->name, value.text); !status) {
        return usage_error(value.place + ": " + status.error().message);
      }
    }
  }
  auto plan = builder.finish(command);
  // What the file alone made wrong is said with its name.
  if (!plan && config != nullptr && commandLine.empty()) {
    Error error = plan.error();
    error.message = display_path(config->file) + ": " + error.message;
    return error;
  }
  return plan;
}

}  // namespace softplc
