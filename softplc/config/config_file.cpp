#include "softplc/config/config_file.h"

#include "softplc/symbols/names.h"
#include "softplc/util/files.h"
#include "softplc/util/yaml_file.h"

namespace softplc {

namespace {

constexpr std::string_view kWhat = "the configuration";

// A path that is not absolute, taken from the file's folder.
std::string from_folder(std::string_view text, const std::filesystem::path& folder) {
  const std::filesystem::path path{std::string(text)};
  if (text.empty() || path.is_absolute()) return std::string(text);
  return (folder / path).lexically_normal().string();
}

std::string with_paths(const RunOption& option, std::string_view text, const std::filesystem::path& folder) {
  switch (option.path) {
    case PathPart::None: return std::string(text);
    case PathPart::Whole: return from_folder(text, folder);
    case PathPart::AfterColon: {
      const auto colon = text.find(':');
      if (colon == std::string_view::npos) return std::string(text);
      return std::string(text.substr(0, colon + 1)) + from_folder(text.substr(colon + 1), folder);
    }
  }
  return std::string(text);
}

Error unknown(const YamlFile& yaml, const YamlEntry& entry) {
  std::vector<std::string_view> names;
  for (const RunOption& option : run_options())
    if ((option.commands & kForRun) != 0) names.push_back(option.name);
  return yaml.unknown_key(entry, kWhat, did_you_mean(closest(entry.key, names)));
}

// The texts of one key's value, each with its place, as the option's shape takes them.
Result<std::vector<ConfigValue>> values_of(const YamlFile& yaml, const RunOption& option, const YamlEntry& entry) {
  const std::string name(option.name);
  std::vector<ConfigValue> values;
  const auto add = [&](const YAML::Node& node, std::string text) {
    values.push_back({std::move(text), yaml.place(node)});
  };
  const auto add_scalar = [&](const YAML::Node& node) -> Status {
    auto text = yaml.scalar(node, name);
    if (!text) return text.error();
    add(node, std::move(text).value());
    return ok_status();
  };
  switch (option.shape) {
    case OptionShape::Flag: {
      auto on = yaml.boolean(entry.value, name);
      if (!on) return on.error();
      add(entry.value, *on ? "true" : "false");
      return values;
    }
    case OptionShape::Positional:
    case OptionShape::Value:
      if (auto status = add_scalar(entry.value); !status) return status.error();
      return values;
    case OptionShape::List:
    case OptionShape::Words: break;
  }
  // NAME=VALUE options (set, force) take a mapping NAME: VALUE too.
  if (entry.value.IsMap() && option.value == "NAME=VALUE") {
    auto pairs = yaml.entries(entry.value, name);
    if (!pairs) return pairs.error();
    for (const YamlEntry& pair : *pairs) {
      auto text = yaml.scalar(pair.value, name + " " + pair.key);
      if (!text) return text.error();
      add(pair.keyNode, pair.key + "=" + *text);
    }
    return values;
  }
  if (entry.value.IsSequence()) {
    for (const YAML::Node& item : entry.value) {
      if (auto status = add_scalar(item); !status) return status.error();
    }
    return values;
  }
  if (auto status = add_scalar(entry.value); !status) return status.error();
  return values;
}

}  // namespace

Result<RunConfig> read_run_config(const std::filesystem::path& file) {
  auto yaml = YamlFile::read(file);
  if (!yaml) return yaml.error();
  auto entries = yaml->entries(yaml->root(), kWhat);
  if (!entries) return entries.error();
  std::error_code ec;
  const std::filesystem::path folder = std::filesystem::absolute(file, ec).parent_path();

  RunConfig config;
  config.file = file;
  // Each value converted on its own, so that a bad one is refused at its place.
  PlanBuilder check(OptionSpelling{""});
  for (const YamlEntry& entry : *entries) {
    const RunOption* option = find_run_option(entry.key);
    if (option == nullptr || (option->commands & kForRun) == 0) return unknown(*yaml, entry);
    if (!option->notInFile.empty()) return yaml->error_at(entry.keyNode, entry.key + ": " + std::string(option->notInFile));
    auto values = values_of(*yaml, *option, entry);
    if (!values) return values.error();
    ConfigSetting setting{option, yaml->place(entry.keyNode), {}};
    for (ConfigValue& value : *values) {
      value.text = with_paths(*option, value.text, folder);
      if (auto status = check.give(option->name, value.text); !status) {
        return usage_error(value.place + ": " + status.error().message);
      }
      // A flag set to false is as if not given.
      if (option->shape != OptionShape::Flag || value.text == "true") setting.values.push_back(std::move(value));
    }
    if (!setting.values.empty()) config.settings.push_back(std::move(setting));
  }
  return config;
}

std::string describe_config(const RunConfig& config) {
  std::string text;
  for (const ConfigSetting& setting : config.settings) {
    for (const ConfigValue& value : setting.values) text += std::string(setting.option->name) + ": " + value.text + "\n";
  }
  return text;
}

}  // namespace softplc
