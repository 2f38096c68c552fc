#include "softplc/dap/launch.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "softplc/run/options.h"
#include "softplc/util/text.h"

namespace softplc::dap {

namespace {

// What editors put into every configuration, for themselves.
constexpr std::string_view kEditorKeys[] = {"type",         "request",       "name",       "preLaunchTask",
                                             "postDebugTask", "presentation", "debugServer", "internalConsoleOptions",
                                             "console",      "env",           "envFile",    "suppressMultipleSessionWarning"};

// "reloadOnChange" -> "reload-on-change".
std::string option_name(std::string_view key) {
  std::string name;
  for (const char c : key) {
    if (std::isupper(static_cast<unsigned char>(c)) != 0) {
      name += '-';
      name += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    } else {
      name += c;
    }
  }
  return name;
}

// A value as the option table reads text: a string as it is, a number in decimal, a flag as
// true/false.
Result<std::string> text_of(const std::string& key, const Json& value) {
  if (value.is_string()) return value.get<std::string>();
  if (value.is_boolean()) return std::string(value.get<bool>() ? "true" : "false");
  if (value.is_number_integer()) return std::to_string(value.get<int64_t>());
  if (value.is_number()) return value.dump();
  return usage_error("the launch attribute \"" + key + "\" must be a string, a number or true/false");
}

bool flag_of(const Json& arguments, const char* key) {
  const auto found = arguments.find(key);
  return found != arguments.end() && found->is_boolean() && found->get<bool>();
}

}  // namespace

Result<Launch> launch_plan(const Json& arguments) {
  Launch launch;
  launch.stopOnEntry = flag_of(arguments, "stopOnEntry");
  launch.noDebug = flag_of(arguments, "noDebug");
  std::filesystem::path cwd;
  if (const auto found = arguments.find("cwd"); found != arguments.end()) {
    if (!found->is_string() || found->get<std::string>().empty()) return usage_error("\"cwd\" must be a folder's path");
    cwd = found->get<std::string>();
    std::error_code ec;
    if (!std::filesystem::is_directory(cwd, ec)) return usage_error("\"cwd\": " + cwd.string() + " is not a folder");
  }
  PlanBuilder builder(OptionSpelling{""});
  for (const auto& [key, value] : arguments.items()) {
    if (key == "stopOnEntry" || key == "noDebug" || key == "cwd" || key.rfind("__", 0) == 0) continue;
    if (std::find(std::begin(kEditorKeys), std::end(kEditorKeys), key) != std::end(kEditorKeys)) continue;
    const std::string name = key == "program" ? "module" : option_name(key);
    const RunOption* option = find_run_option(name);
    if (option == nullptr || (option->commands & kForLaunch) == 0) {
      return usage_error("unknown launch attribute \"" + shown(key) + "\"");
    }
    std::vector<std::string> texts;
    if (value.is_array()) {
      for (const Json& item : value) {
        auto text = text_of(key, item);
        if (!text) return text.error();
        texts.push_back(*text);
      }
    } else if (value.is_object() && (name == "set" || name == "force")) {
      for (const auto& [variable, item] : value.items()) {
        auto text = text_of(key, item);
        if (!text) return text.error();
        texts.push_back(variable + "=" + *text);
      }
    } else {
      auto text = text_of(key, value);
      if (!text) return text.error();
      texts.push_back(*text);
    }
    if (option->shape == OptionShape::Flag && texts.size() == 1 && texts[0] == "false") continue;
    const bool many = option->shape == OptionShape::List || option->shape == OptionShape::Words;
    if (!many && texts.size() != 1) return usage_error("the launch attribute \"" + key + "\" takes one value");
    // Paths are the editor's, relative to its folder.
    const bool path = name == "module" || name == "symbols" || name == "trace";
    for (std::string& text : texts) {
      if (path && !cwd.empty() && !text.empty() && std::filesystem::path(text).is_relative()) text = (cwd / text).string();
      if (auto given = builder.give(name, text); !given) return given.error();
    }
  }
  auto plan = builder.finish(kForLaunch);
  if (!plan) return plan.error();
  launch.plan = std::move(plan).value();
  // The session's adapter is this run's live channel: the clock keeps pace with real time, and the
  // debug console can force.
  launch.plan.serveDap = true;
  return launch;
}

}  // namespace softplc::dap
