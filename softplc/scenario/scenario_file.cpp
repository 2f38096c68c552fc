#include "softplc/scenario/scenario_file.h"

#include <algorithm>
#include <utility>

#include "softplc/run/options.h"
#include "softplc/scenario/value_check.h"
#include "softplc/symbols/symbol_file.h"
#include "softplc/symbols/variable_spec.h"
#include "softplc/util/files.h"
#include "softplc/util/platform.h"
#include "softplc/util/text.h"
#include "softplc/util/yaml_file.h"

namespace softplc {

Result<std::shared_ptr<const Symbols>> SymbolCache::get(const std::filesystem::path& module) {
  if (auto known = loaded_.find(module); known != loaded_.end()) return known->second;
  const auto load = [&]() -> Result<std::shared_ptr<const Symbols>> {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(module, ec)) {
      return usage_error("module " + display_path(module) + " not found");
    }
    const std::filesystem::path path = default_symbol_path(module);
    if (!std::filesystem::exists(path, ec)) {
      return usage_error("module " + display_path(module) + " has no symbol file (" + display_path(path) +
                         "): scenarios name its variables");
    }
    auto file = load_symbol_file(path);
    if (!file) return usage_error(file.error().message);
    if (file->entryPoints.empty()) return usage_error("symbol file " + display_path(path) + " describes no entry point");
    return file->entryPoints.front();
  };
  return loaded_.emplace(module, load()).first->second;
}

Result<std::filesystem::path> find_module_file(const std::string& text, const std::filesystem::path& folder,
                                               const std::filesystem::path& fallback) {
  if (text.empty()) return usage_error("an empty module name");
  std::filesystem::path name(text);
  if (!name.has_extension()) name += library_suffix();
  if (name.is_absolute()) return name;
  std::error_code ec;
  const std::filesystem::path here = folder / name;
  if (std::filesystem::exists(here, ec)) return here;
  const std::filesystem::path there = fallback / name;
  if (std::filesystem::exists(there, ec)) return there;
  return usage_error("module " + name.string() + " not found in " + display_path(folder.empty() ? "." : folder) +
                     " or in " + display_path(fallback));
}

namespace {

constexpr uint64_t kMaxScenarioFileBytes = uint64_t{16} << 20;
constexpr std::string_view kStepDoes = "set, force, release, change, expect, always, rises, falls or errors";

using Row = std::vector<std::pair<std::string, std::string>>;

// "${name}" replaced by the row's value.
Result<std::string> substitute(std::string_view text, const Row& row) {
  std::string out;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t open = text.find("${", at);
    if (open == std::string_view::npos) {
      out += text.substr(at);
      break;
    }
    out += text.substr(at, open - at);
    const std::size_t close = text.find('}', open);
    if (close == std::string_view::npos) return usage_error("'${' without its '}' in '" + shown(text) + "'");
    const std::string_view name = text.substr(open + 2, close - open - 2);
    const auto found = std::find_if(row.begin(), row.end(), [&](const auto& cell) { return cell.first == name; });
    if (found == row.end()) {
      std::string names;
      for (const auto& cell : row) names += (names.empty() ? "" : ", ") + cell.first;
      return usage_error("unknown parameter '${" + shown(name) + "}' (the parameters: " + names + ")");
    }
    out += found->second;
    at = close + 1;
  }
  return out;
}

// A scenario's own setting, else the file's.
std::optional<YAML::Node> chosen(const YAML::Node& own, const std::optional<YAML::Node>& fileWide) {
  if (own.IsDefined()) return own;
  return fileWide;
}

std::string time_text(int64_t ns) { return "t=" + format_seconds(ns) + "s"; }

class Reader {
 public:
  Reader(YamlFile& yaml, const std::filesystem::path& file, const ScenarioSources& sources)
      : yaml_(yaml), file_(file), folder_(file.parent_path()), sources_(sources) {}

  Result<std::vector<Scenario>> read();

 private:
  // What the file gives every scenario (a node of yaml-cpp's that is not there must not be
  // assigned to: it is kept only when it is there).
  struct Defaults {
    std::optional<YAML::Node> module;
    std::optional<YAML::Node> period;
  };
  // What a scenario knows while its steps are read, in time order.
  struct Timeline {
    int64_t periodNs = 0;
    int64_t lastNs = 0;                          // the previous step's time
    std::shared_ptr<const Symbols> symbols;      // of the module that runs at that time
    std::filesystem::path module;
    std::vector<Variable> forced;
    bool forcing = false;
    uint64_t lastCycle = 0;
    std::vector<std::size_t> openChecks;         // to the end of the scenario
  };

  Status read_scenario(const YAML::Node& node, uint32_t& index, std::vector<Scenario>& out);
  Result<Scenario> compile(const YAML::Node& node, const std::string& suffix);
  Status read_assignments(const YAML::Node& map, std::string_view key, Timeline& timeline, PlanBuilder& builder);
  Status read_step(const YAML::Node& step, Timeline& timeline, Scenario& scenario);
  Status read_checks(const YAML::Node& node, std::string_view key, Check prototype, const Timeline& timeline,
                     Scenario& scenario);
  Result<Variable> variable(const YAML::Node& node, const Symbols& symbols);
  Result<Expression> condition(const YAML::Node& node, const Symbols& symbols, std::string_view what);
  Result<std::string> text(const YAML::Node& node, std::string_view what) { return yaml_.scalar(node, what); }

  YamlFile& yaml_;
  std::filesystem::path file_;
  std::filesystem::path folder_;
  const ScenarioSources& sources_;
  Defaults defaults_;
};

Result<std::vector<Scenario>> Reader::read() {
  const YAML::Node& root = yaml_.root();
  if (!root.IsDefined() || root.IsNull()) return usage_error(yaml_.source() + ": holds no scenario");
  std::vector<Scenario> scenarios;
  uint32_t index = 0;
  if (root.IsMap() && root["scenarios"]) {
    if (auto keys = yaml_.check_keys(root, {"module", "period", "scenarios"}, "a scenario file"); !keys) return keys.error();
    if (const YAML::Node module = root["module"]; module.IsDefined()) defaults_.module = module;
    if (const YAML::Node period = root["period"]; period.IsDefined()) defaults_.period = period;
    const YAML::Node& list = root["scenarios"];
    if (!list.IsSequence() || list.size() == 0) {
      return yaml_.error_at(list, "scenarios must be a list of scenarios (each starting with '- name:')");
    }
    for (const YAML::Node& node : list) {
      if (auto status = read_scenario(node, index, scenarios); !status) return status.error();
    }
  } else if (root.IsMap()) {
    if (auto status = read_scenario(root, index, scenarios); !status) return status.error();
  } else {
    return yaml_.error_at(root, "a scenario file is a mapping: 'scenarios:' with a list, or one scenario");
  }
  for (std::size_t i = 0; i < scenarios.size(); ++i) {
    for (std::size_t j = 0; j < i; ++j) {
      if (scenarios[j].name == scenarios[i].name) {
        return usage_error(scenarios[i].where + ": a second scenario named '" + scenarios[i].name + "' (the first is at " +
                           scenarios[j].where + ")");
      }
    }
  }
  return scenarios;
}

Status Reader::read_scenario(const YAML::Node& node, uint32_t& index, std::vector<Scenario>& out) {
  if (auto keys = yaml_.check_keys(node, {"name", "module", "period", "warm", "set", "force", "parameters", "steps"},
                                   "a scenario");
      !keys) {
    return keys;
  }
  const YAML::Node& table = node["parameters"];
  if (!table) {
    auto scenario = compile(node, "");
    if (!scenario) return scenario.error();
    scenario->index = index++;
    out.push_back(std::move(scenario).value());
    return ok_status();
  }
  if (!table.IsSequence() || table.size() == 0) {
    return yaml_.error_at(table, "parameters must be a list of rows, each a mapping of names to values");
  }
  std::vector<std::string> names;
  for (const YAML::Node& rowNode : table) {
    if (!rowNode.IsMap() || rowNode.size() == 0) return yaml_.error_at(rowNode, "a row of parameters must be a mapping of names to values");
    Row row;
    for (const auto& cell : rowNode) {
      auto name = yaml_.scalar(cell.first, "a parameter's name");
      if (!name) return name.error();
      auto value = yaml_.scalar(cell.second, "a parameter's value");
      if (!value) return value.error();
      row.emplace_back(*name, *value);
    }
    std::vector<std::string> these;
    for (const auto& cell : row) these.push_back(cell.first);
    if (names.empty()) names = these;
    if (these != names) {
      std::string list;
      for (const std::string& name : names) list += (list.empty() ? "" : ", ") + name;
      return yaml_.error_at(rowNode, "every row of parameters names the same parameters, in the same order (" + list + ")");
    }
    std::string suffix;
    for (const auto& [name, value] : row) suffix += (suffix.empty() ? "" : ", ") + name + "=" + value;
    yaml_.set_filter([&row](std::string_view text) { return substitute(text, row); });
    auto scenario = compile(node, " [" + suffix + "]");
    yaml_.set_filter({});
    if (!scenario) {
      return usage_error(scenario.error().message + " (in the row of parameters at " + yaml_.place(rowNode) + ")");
    }
    scenario->index = index++;
    out.push_back(std::move(scenario).value());
  }
  return ok_status();
}

Result<Scenario> Reader::compile(const YAML::Node& node, const std::string& suffix) {
  Scenario scenario;
  scenario.file = file_.string();
  scenario.where = yaml_.place(node);
  scenario.line = node.Mark().line < 0 ? 0 : static_cast<uint32_t>(node.Mark().line + 1);
  const YAML::Node& nameNode = node["name"];
  if (!nameNode) return yaml_.error_at(node, "a scenario needs a name (name: ...)");
  auto name = text(nameNode, "name");
  if (!name) return name.error();
  scenario.name = std::string(trimmed(*name));
  if (scenario.name.empty()) return yaml_.error_at(nameNode, "a scenario's name must not be empty");
  // The rows of a table are told apart by their values when the name does not tell them apart.
  if (!suffix.empty() && nameNode.Scalar().find("${") == std::string::npos) scenario.name += suffix;

  PlanBuilder builder(OptionSpelling{""});
  Timeline timeline;
  // The module: --module, else the scenario's, else the file's, else the one beside softplc.
  if (sources_.module) {
    timeline.module = *sources_.module;
  } else if (const std::optional<YAML::Node> module = chosen(node["module"], defaults_.module)) {
    auto given = text(*module, "module");
    if (!given) return given.error();
    auto softplcFolder = default_module_path();
    auto found = find_module_file(*given, folder_, softplcFolder ? softplcFolder->parent_path() : folder_);
    if (!found) return yaml_.error_at(*module, found.error().message);
    timeline.module = *found;
  } else {
    auto beside = default_module_path();
    if (!beside) return yaml_.error_at(node, beside.error().message);
    timeline.module = *beside;
  }
  auto symbols = sources_.symbols->get(timeline.module);
  if (!symbols) return usage_error(scenario.where + ": " + symbols.error().message);
  timeline.symbols = *symbols;
  scenario.symbols = *symbols;
  if (auto given = builder.give("module", timeline.module.string()); !given) return given.error();

  if (const std::optional<YAML::Node> period = chosen(node["period"], defaults_.period)) {
    auto given = text(*period, "period");
    if (!given) return given.error();
    if (auto status = builder.give("period", trimmed(*given)); !status) return yaml_.error_at(*period, status.error().message);
    timeline.periodNs = *parse_duration_ns(trimmed(*given));
  } else {
    timeline.periodNs = RunPlan{}.periodNs;
  }
  if (const YAML::Node& warm = node["warm"]; warm) {
    auto on = yaml_.boolean(warm, "warm");
    if (!on) return on.error();
    if (auto given = builder.give("warm", *on ? "true" : "false"); !given) return yaml_.error_at(warm, given.error().message);
  }
  for (std::string_view key : {"set", "force"}) {
    if (const YAML::Node& map = node[std::string(key)]; map) {
      if (auto status = read_assignments(map, key, timeline, builder); !status) return status.error();
    }
  }

  const YAML::Node& steps = node["steps"];
  if (!steps || !steps.IsSequence() || steps.size() == 0) {
    return yaml_.error_at(steps ? steps : node, "a scenario needs steps: a list of what happens when (- at: TIME ...)");
  }
  for (const YAML::Node& step : steps) {
    if (auto status = read_step(step, timeline, scenario); !status) return status.error();
  }
  for (std::size_t open : timeline.openChecks) scenario.checks[open].lastCycle = timeline.lastCycle;
  for (std::size_t open : timeline.openChecks) scenario.checks[open].untilNs = static_cast<int64_t>(timeline.lastCycle) * timeline.periodNs;
  scenario.lastCycle = timeline.lastCycle;
  if (auto given = builder.give("cycles", std::to_string(timeline.lastCycle + 1)); !given) return given.error();
  auto plan = builder.finish(kForRun);
  if (!plan) return usage_error(scenario.where + ": " + plan.error().message);
  scenario.plan = std::move(plan).value();
  scenario.plan.forcing = timeline.forcing;
  return scenario;
}

Result<Variable> Reader::variable(const YAML::Node& node, const Symbols& symbols) {
  auto name = text(node, "a variable's name");
  if (!name) return name.error();
  auto found = find_variable(trimmed(*name), &symbols, "");
  if (!found) return yaml_.error_at(node, found.error().message);
  return found;
}

Result<Expression> Reader::condition(const YAML::Node& node, const Symbols& symbols, std::string_view what) {
  auto written = text(node, what);
  if (!written) return written.error();
  const NameResolver resolve = [&symbols](std::string_view name) { return find_variable(name, &symbols, ""); };
  auto parsed = Expression::parse(*written, resolve, symbols.ticksPerSecond);
  if (!parsed) {
    const std::string& message = parsed.error().message;
    // "column 12: ..." is told at its place in the file when the text is the file's own.
    std::size_t column = 0;
    std::size_t colon = std::string::npos;
    if (message.rfind("column ", 0) == 0) {
      colon = message.find(':');
      if (auto number = whole_number<std::size_t>(std::string_view(message).substr(7, colon - 7))) column = *number;
    }
    const std::size_t first = written->find_first_not_of(" \t\r\n");
    const std::size_t lead = first == std::string::npos ? 0 : first;
    if (column != 0 && *written == node.Scalar() && node.Mark().line >= 0 && written->find('\n') == std::string::npos) {
      return usage_error(yaml_.place_in(node, lead + column - 1) + ": " + std::string(what) + " '" + shown(trimmed(*written), 80) +
                         "':" + message.substr(colon + 1));
    }
    return yaml_.error_at(node, std::string(what) + " '" + shown(trimmed(*written), 80) + "': " + message);
  }
  if (parsed->type() != ExprType::Bool) {
    return yaml_.error_at(node, std::string(what) + " '" + shown(parsed->text(), 80) + "' is " +
                                    std::string(expr_type_name(parsed->type())) +
                                    ", not BOOL: compare it with something (e.g. LagOut > 200, or expect: {LagOut: 200 ± 1})");
  }
  return parsed;
}

Status Reader::read_assignments(const YAML::Node& map, std::string_view key, Timeline& timeline,
                                PlanBuilder& builder) {
  if (!map.IsMap() || map.size() == 0) {
    return yaml_.error_at(map, std::string(key) + " must be a mapping of variables to values (" + std::string(key) +
                                   ": {IntRampEnable: TRUE})");
  }
  std::vector<Variable> seen;
  for (const auto& entry : map) {
    auto found = variable(entry.first, *timeline.symbols);
    if (!found) return found.error();
    for (const Variable& earlier : seen) {
      if (earlier.offset == found->offset && earlier.type == found->type) {
        return yaml_.error_at(entry.first, found->name + " is given twice in " + std::string(key));
      }
    }
    seen.push_back(*found);
    auto value = text(entry.second, "a value");
    if (!value) return value.error();
    const std::string_view written = trimmed(*value);
    auto parsed = parse_value(found->type, written);
    if (!parsed) return yaml_.error_at(entry.second, found->name + ": " + parsed.error().message);
    if (auto encoded = encode(*parsed, timeline.symbols->ticksPerSecond); !encoded) {
      return yaml_.error_at(entry.second, found->name + ": " + encoded.error().message);
    }
    auto name = text(entry.first, "a variable's name");
    if (auto given = builder.give(key, std::string(trimmed(*name)) + "=" + std::string(written)); !given) {
      return yaml_.error_at(entry.first, given.error().message);
    }
    if (key == "force") {
      timeline.forced.push_back(*found);
      timeline.forcing = true;
    }
  }
  return ok_status();
}

Status Reader::read_step(const YAML::Node& step, Timeline& timeline, Scenario& scenario) {
  if (auto keys = yaml_.check_keys(step,
                                   {"at", "after", "until", "for", "within", "set", "force", "release", "change",
                                    "expect", "always", "rises", "falls", "errors"},
                                   "a step");
      !keys) {
    return keys;
  }
  const auto has = [&](const char* key) { return static_cast<bool>(step[key]); };
  // When: at TIME, or after TIME from the previous step's time.
  if (has("at") == has("after")) {
    return yaml_.error_at(step, has("at") ? "a step has at or after, not both"
                                          : "a step needs its time: at: TIME, or after: TIME (from the previous step's)");
  }
  const YAML::Node& when = has("at") ? step["at"] : step["after"];
  auto time = yaml_.duration(when, has("at") ? "at" : "after", true);
  if (!time) return time.error();
  const int64_t at = has("at") ? *time : timeline.lastNs + *time;
  if (at < timeline.lastNs) {
    return yaml_.error_at(when, "steps go forward in time: this one at " + time_text(at) + " comes after one at " +
                                    time_text(timeline.lastNs));
  }
  timeline.lastNs = at;
  const int64_t period = timeline.periodNs;
  const uint64_t cycle = cycle_at_or_after(at, period);
  timeline.lastCycle = std::max(timeline.lastCycle, cycle);

  bool does = false;
  for (const char* key : {"set", "force", "release", "change", "expect", "always", "rises", "falls", "errors"}) does = does || has(key);
  if (!does) return yaml_.error_at(step, "a step needs something to do: " + std::string(kStepDoes));

  // The interval of always and errors, and the deadline of expect, rises and falls.
  const bool interval = has("always") || has("errors");
  const bool instant = has("expect") || has("rises") || has("falls");
  if (has("until") && has("for")) return yaml_.error_at(step["for"], "a step has until or for, not both");
  for (const char* key : {"until", "for"}) {
    if (has(key) && !interval) {
      return yaml_.error_at(step[key], std::string(key) + " gives always and errors their interval; expect, rises "
                                                          "and falls take within");
    }
  }
  if (has("within") && (!instant || interval)) {
    return yaml_.error_at(step["within"], "within goes with expect, rises and falls; always and errors take until or for");
  }
  Check prototype;
  prototype.fromNs = at;
  prototype.firstCycle = cycle;
  prototype.lastCycle = cycle;
  prototype.untilNs = at;
  bool open = false;
  if (has("within") || has("until") || has("for")) {
    const char* key = has("within") ? "within" : has("until") ? "until" : "for";
    auto length = yaml_.duration(step[key], key, true);
    if (!length) return length.error();
    const int64_t until = std::string_view(key) == "until" ? *length : at + *length;
    if (until < at) {
      return yaml_.error_at(step[key], "until " + time_text(until) + " comes before the step's time " + time_text(at));
    }
    const uint64_t last = cycle_at_or_before(until, period);
    if (last < cycle) {
      return yaml_.error_at(step[key], "no cycle runs from " + time_text(at) + " to " + time_text(until) +
                                           " at a period of " + format_seconds(period) + "s");
    }
    prototype.lastCycle = last;
    prototype.untilNs = until;
    prototype.span = has("within") ? Check::Span::Within : Check::Span::Always;
    timeline.lastCycle = std::max(timeline.lastCycle, last);
  } else if (interval) {
    open = true;
    prototype.span = Check::Span::Always;
  }

  // What it does before its cycle: an online change first, then releases, forces and writes.
  if (has("change")) {
    auto given = text(step["change"], "change");
    if (!given) return given.error();
    auto found = find_module_file(std::string(trimmed(*given)), folder_, timeline.module.parent_path());
    if (!found) return yaml_.error_at(step["change"], found.error().message);
    auto symbols = sources_.symbols->get(*found);
    if (!symbols) return yaml_.error_at(step["change"], symbols.error().message);
    Action action{Action::Kind::Change, yaml_.place(step["change"]), "", "", *found, cycle, at};
    scenario.actions.push_back(std::move(action));
    timeline.module = *found;
    timeline.symbols = *symbols;
  }
  if (has("release")) {
    const YAML::Node& names = step["release"];
    std::vector<YAML::Node> list;
    if (names.IsSequence()) {
      for (const YAML::Node& name : names) list.push_back(name);
    } else {
      list.push_back(names);
    }
    for (const YAML::Node& name : list) {
      auto found = variable(name, *timeline.symbols);
      if (!found) return found.error();
      const auto forced = std::find_if(timeline.forced.begin(), timeline.forced.end(), [&](const Variable& v) {
        return v.offset == found->offset && v.type == found->type;
      });
      if (forced == timeline.forced.end()) return yaml_.error_at(name, found->name + " is not forced at " + time_text(at));
      timeline.forced.erase(forced);
      scenario.actions.push_back(Action{Action::Kind::Release, yaml_.place(name), found->name, "", {}, cycle, at});
    }
    timeline.forcing = true;
  }
  for (const char* key : {"force", "set"}) {
    if (!has(key)) continue;
    const YAML::Node& map = step[key];
    if (!map.IsMap() || map.size() == 0) {
      return yaml_.error_at(map, std::string(key) + " must be a mapping of variables to values (" + key +
                                     ": {LagResetCmd: TRUE})");
    }
    for (const auto& entry : map) {
      auto found = variable(entry.first, *timeline.symbols);
      if (!found) return found.error();
      auto value = text(entry.second, "a value");
      if (!value) return value.error();
      auto parsed = parse_value(found->type, trimmed(*value));
      if (!parsed) return yaml_.error_at(entry.second, found->name + ": " + parsed.error().message);
      if (auto encoded = encode(*parsed, timeline.symbols->ticksPerSecond); !encoded) {
        return yaml_.error_at(entry.second, found->name + ": " + encoded.error().message);
      }
      const bool force = std::string_view(key) == "force";
      scenario.actions.push_back(Action{force ? Action::Kind::Force : Action::Kind::Set, yaml_.place(entry.first),
                                        found->name, std::string(trimmed(*value)), {}, cycle, at});
      if (force) {
        timeline.forcing = true;
        if (std::none_of(timeline.forced.begin(), timeline.forced.end(), [&](const Variable& v) {
              return v.offset == found->offset && v.type == found->type;
            })) {
          timeline.forced.push_back(*found);
        }
      }
    }
  }

  // What it checks.
  const std::size_t before = scenario.checks.size();
  for (const char* key : {"expect", "always", "rises", "falls", "errors"}) {
    if (!has(key)) continue;
    if (auto status = read_checks(step[key], key, prototype, timeline, scenario); !status) return status;
  }
  if (open) {
    for (std::size_t i = before; i < scenario.checks.size(); ++i) timeline.openChecks.push_back(i);
  }
  return ok_status();
}

Status Reader::read_checks(const YAML::Node& node, std::string_view key, Check prototype, const Timeline& timeline,
                           Scenario& scenario) {
  const Symbols& symbols = *timeline.symbols;
  const bool always = key == "always";
  prototype.where = yaml_.place(node);
  if (key == "errors") {
    prototype.kind = Check::Kind::Errors;
    std::vector<YAML::Node> codes;
    if (node.IsSequence()) {
      for (const YAML::Node& code : node) codes.push_back(code);
      if (codes.empty()) return yaml_.error_at(node, "errors: none, or a list of the error codes expected ([140])");
    } else {
      auto word = text(node, "errors");
      if (!word) return word.error();
      if (!equal_ignoring_case(trimmed(*word), "none")) codes.push_back(node);
    }
    for (const YAML::Node& code : codes) {
      auto written = text(code, "an error code");
      if (!written) return written.error();
      const auto number = whole_number<int32_t>(trimmed(*written));
      if (!number || *number <= 0) {
        return yaml_.error_at(code, "errors expects none or error codes (whole numbers above 0, e.g. 140), got '" +
                                        shown(*written) + "'");
      }
      prototype.errorCodes.push_back(*number);
    }
    scenario.checks.push_back(std::move(prototype));
    return ok_status();
  }
  if (key == "rises" || key == "falls") {
    auto parsed = condition(node, symbols, key == "rises" ? "rises" : "falls");
    if (!parsed) return parsed.error();
    prototype.kind = key == "rises" ? Check::Kind::Rises : Check::Kind::Falls;
    prototype.condition = std::move(parsed).value();
    scenario.checks.push_back(std::move(prototype));
    return ok_status();
  }
  // expect and always: a condition, a list of conditions, or the values of variables.
  if (node.IsSequence() && node.size() > 0) {
    for (const YAML::Node& item : node) {
      if (!item.IsScalar()) {
        return yaml_.error_at(item, std::string(key) + " takes a list of conditions, each a single line (\"LagOut > 200\")");
      }
      if (auto status = read_checks(item, key, prototype, timeline, scenario); !status) return status;
    }
    return ok_status();
  }
  if (node.IsScalar()) {
    auto parsed = condition(node, symbols, "the condition");
    if (!parsed) return parsed.error();
    prototype.kind = Check::Kind::Condition;
    prototype.condition = std::move(parsed).value();
    scenario.checks.push_back(std::move(prototype));
    return ok_status();
  }
  if (!node.IsMap() || node.size() == 0) {
    return yaml_.error_at(node, std::string(key) + " takes a condition (\"LagOut > 200\"), a list of them, or a mapping "
                                                   "of variables to values ({LagOut: 205 ± 1})");
  }
  for (const auto& entry : node) {
    auto found = variable(entry.first, symbols);
    if (!found) return found.error();
    auto written = text(entry.second, "an expected value");
    if (!written) return written.error();
    auto value = parse_value_check(*written, *found, symbols.ticksPerSecond, always);
    if (!value) return yaml_.error_at(entry.second, found->name + ": " + value.error().message);
    Check check = prototype;
    check.kind = Check::Kind::Value;
    check.where = yaml_.place(entry.second);
    value->where = check.where;
    check.value = std::move(value).value();
    scenario.checks.push_back(std::move(check));
  }
  return ok_status();
}

// yaml-cpp throws where a node is used as what it is not: a refusal of the file, not a crash.
Result<std::vector<Scenario>> read_guarded(YamlFile& yaml, const std::filesystem::path& file,
                                           const ScenarioSources& sources) {
  try {
    return Reader(yaml, file, sources).read();
  } catch (const YAML::Exception& e) {
    return usage_error(yaml.source() + (e.mark.is_null() ? std::string() : ":" + std::to_string(e.mark.line + 1) + ":" +
                                                                              std::to_string(e.mark.column + 1)) +
                       ": " + e.msg);
  }
}

}  // namespace

Result<std::vector<Scenario>> parse_scenario_text(std::string_view text, const std::filesystem::path& file,
                                                  const ScenarioSources& sources) {
  auto yaml = YamlFile::parse(file, std::string(text));
  if (!yaml) return yaml.error();
  return read_guarded(*yaml, file, sources);
}

Result<std::vector<Scenario>> read_scenario_file(const std::filesystem::path& path, const ScenarioSources& sources) {
  auto yaml = YamlFile::read(path, kMaxScenarioFileBytes);
  if (!yaml) return yaml.error();
  return read_guarded(*yaml, path, sources);
}

}  // namespace softplc
