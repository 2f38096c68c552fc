#include "softplc/scenario/outcome.h"

#include <nlohmann/json.hpp>

#include "softplc/util/values.h"

namespace softplc {

std::string ScenarioFailure::line() const {
  return where + ": at t=" + format_seconds(timeNs) + "s (cycle " + std::to_string(cycle) + "): " + message;
}

std::string ScenarioFailure::lines(std::string_view indent) const {
  std::string text = line();
  for (const std::string& place : written) text += "\n" + std::string(indent) + place;
  return text;
}

namespace {

constexpr const char* kStatus[] = {"passed", "failed", "broken"};

}  // namespace

std::string outcome_to_json(const ScenarioOutcome& outcome) {
  nlohmann::json failures = nlohmann::json::array();
  for (const ScenarioFailure& failure : outcome.failures) {
    failures.push_back({{"where", failure.where},
                        {"cycle", failure.cycle},
                        {"timeNs", failure.timeNs},
                        {"message", failure.message},
                        {"written", failure.written},
                        {"variables", failure.variables},
                        {"fromNs", failure.fromNs}});
  }
  nlohmann::json json = {{"file", outcome.file},
                         {"name", outcome.name},
                         {"line", outcome.line},
                         {"status", kStatus[static_cast<int>(outcome.status)]},
                         {"error", outcome.error},
                         {"failures", failures},
                         {"notes", outcome.notes},
                         {"cycles", outcome.cycles},
                         {"simulatedNs", outcome.simulatedNs},
                         {"wallSeconds", outcome.wallSeconds}};
  if (outcome.trace) json["trace"] = *outcome.trace;
  if (outcome.plot) json["plot"] = *outcome.plot;
  // Text from the files (names, messages) may hold any bytes: replaced rather than refused.
  return json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

Result<ScenarioOutcome> outcome_from_json(std::string_view text) {
  try {
    const nlohmann::json json = nlohmann::json::parse(text);
    ScenarioOutcome outcome;
    outcome.file = json.at("file").get<std::string>();
    outcome.name = json.at("name").get<std::string>();
    outcome.line = json.at("line").get<uint32_t>();
    const std::string status = json.at("status").get<std::string>();
    bool known = false;
    for (int i = 0; i < 3; ++i) {
      if (status == kStatus[i]) {
        outcome.status = static_cast<ScenarioOutcome::Status>(i);
        known = true;
      }
    }
    if (!known) return runtime_error("unknown status '" + status + "'");
    outcome.error = json.at("error").get<std::string>();
    for (const nlohmann::json& item : json.at("failures")) {
      ScenarioFailure failure;
      failure.where = item.at("where").get<std::string>();
      failure.cycle = item.at("cycle").get<uint64_t>();
      failure.timeNs = item.at("timeNs").get<int64_t>();
      failure.message = item.at("message").get<std::string>();
      failure.written = item.at("written").get<std::vector<std::string>>();
      failure.variables = item.at("variables").get<std::vector<std::string>>();
      failure.fromNs = item.at("fromNs").get<int64_t>();
      outcome.failures.push_back(std::move(failure));
    }
    outcome.notes = json.at("notes").get<std::vector<std::string>>();
    outcome.cycles = json.at("cycles").get<uint64_t>();
    outcome.simulatedNs = json.at("simulatedNs").get<int64_t>();
    outcome.wallSeconds = json.at("wallSeconds").get<double>();
    if (json.contains("trace")) outcome.trace = json.at("trace").get<std::string>();
    if (json.contains("plot")) outcome.plot = json.at("plot").get<std::string>();
    return outcome;
  } catch (const nlohmann::json::exception& e) {
    return runtime_error(std::string("not a scenario's outcome: ") + e.what());
  }
}

}  // namespace softplc
