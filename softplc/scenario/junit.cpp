#include "softplc/scenario/junit.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "softplc/util/values.h"

namespace softplc {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";   // U+FFFD

// The length of the well-formed UTF-8 sequence at the start of `text` that XML 1.0 may hold, or 0.
std::size_t utf8_length(std::string_view text) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  std::size_t length = 0;
  uint32_t code = 0;
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code = lead & 0x07;
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(i) & 0x3F);
  }
  const bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
  const bool excluded = (code >= 0xD800 && code <= 0xDFFF) || code == 0xFFFE || code == 0xFFFF || code > 0x10FFFF;
  return overlong || excluded ? 0 : length;
}

std::string seconds(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", value < 0 ? 0.0 : value);
  return text;
}

// "tests/scenarios/ramps.yaml" -> "tests.scenarios.ramps"
std::string class_name(const std::string& file) {
  std::string name = std::filesystem::path(file).replace_extension().generic_string();
  while (name.rfind("./", 0) == 0) name.erase(0, 2);
  while (!name.empty() && name.front() == '/') name.erase(0, 1);
  for (char& c : name)
    if (c == '/') c = '.';
  return name;
}

std::string attribute(std::string_view name, std::string_view value) {
  return " " + std::string(name) + "=\"" + xml_escaped(value, true) + "\"";
}

}  // namespace

std::string xml_escaped(std::string_view text, bool inAttribute) {
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    const char c = text[i];
    switch (c) {
      case '&': out += "&amp;"; ++i; continue;
      case '<': out += "&lt;"; ++i; continue;
      case '>': out += "&gt;"; ++i; continue;
      case '"': out += inAttribute ? "&quot;" : "\""; ++i; continue;
      case '\'': out += inAttribute ? "&apos;" : "'"; ++i; continue;
      case '\n': out += inAttribute ? "&#10;" : "\n"; ++i; continue;
      case '\r': out += "&#13;"; ++i; continue;
      case '\t': out += inAttribute ? "&#9;" : "\t"; ++i; continue;
      default: break;
    }
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
      out += kReplacement;
      ++i;
      continue;
    }
    const std::size_t length = utf8_length(text.substr(i));
    if (length == 0) {
      out += kReplacement;
      ++i;
    } else {
      out.append(text.substr(i, length));
      i += length;
    }
  }
  return out;
}

std::string junit_report(const std::vector<ScenarioOutcome>& outcomes, double wallSeconds) {
  struct Suite {
    std::string file;
    std::vector<const ScenarioOutcome*> cases;
  };
  std::vector<Suite> suites;
  for (const ScenarioOutcome& outcome : outcomes) {
    auto suite = std::find_if(suites.begin(), suites.end(), [&](const Suite& s) { return s.file == outcome.file; });
    if (suite == suites.end()) suite = suites.insert(suites.end(), Suite{outcome.file, {}});
    suite->cases.push_back(&outcome);
  }
  const auto count = [](const std::vector<const ScenarioOutcome*>& cases, ScenarioOutcome::Status status) {
    std::size_t n = 0;
    for (const ScenarioOutcome* outcome : cases) n += outcome->status == status;
    return std::to_string(n);
  };
  std::vector<const ScenarioOutcome*> all;
  for (const ScenarioOutcome& outcome : outcomes) all.push_back(&outcome);

  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  xml += "<testsuites" + attribute("name", "softplc test") + attribute("tests", std::to_string(outcomes.size())) +
         attribute("failures", count(all, ScenarioOutcome::Status::Failed)) +
         attribute("errors", count(all, ScenarioOutcome::Status::Broken)) + attribute("skipped", "0") +
         attribute("time", seconds(wallSeconds)) + ">\n";
  for (const Suite& suite : suites) {
    double time = 0;
    for (const ScenarioOutcome* outcome : suite.cases) time += outcome->wallSeconds;
    xml += "  <testsuite" + attribute("name", suite.file) + attribute("tests", std::to_string(suite.cases.size())) +
           attribute("failures", count(suite.cases, ScenarioOutcome::Status::Failed)) +
           attribute("errors", count(suite.cases, ScenarioOutcome::Status::Broken)) + attribute("skipped", "0") +
           attribute("time", seconds(time)) + ">\n";
    for (const ScenarioOutcome* outcome : suite.cases) {
      xml += "    <testcase" + attribute("name", outcome->name) + attribute("classname", class_name(outcome->file)) +
             attribute("file", outcome->file) + attribute("line", std::to_string(outcome->line)) +
             attribute("time", seconds(outcome->wallSeconds)) + ">\n";
      if (outcome->status == ScenarioOutcome::Status::Failed) {
        std::string text;
        for (const ScenarioFailure& failure : outcome->failures) text += failure.lines("  ") + "\n";
        xml += "      <failure" + attribute("message", outcome->failures.front().line()) +
               attribute("type", "expectation") + ">" + xml_escaped(text, false) + "</failure>\n";
      } else if (outcome->status == ScenarioOutcome::Status::Broken) {
        xml += "      <error" + attribute("message", outcome->error) + attribute("type", "could not run") + ">" +
               xml_escaped(outcome->error, false) + "</error>\n";
      }
      std::string out = "simulated " + format_seconds(outcome->simulatedNs) + "s in " +
                        std::to_string(outcome->cycles) + " cycles\n";
      for (const std::string& note : outcome->notes) out += note + "\n";
      if (outcome->trace) out += "trace: " + *outcome->trace + "\n";
      if (outcome->plot) out += "plot: " + *outcome->plot + "\n";
      xml += "      <system-out>" + xml_escaped(out, false) + "</system-out>\n";
      xml += "    </testcase>\n";
    }
    xml += "  </testsuite>\n";
  }
  xml += "</testsuites>\n";
  return xml;
}

}  // namespace softplc
