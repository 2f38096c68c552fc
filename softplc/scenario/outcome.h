// What running a scenario gave, as data: the runner prints it, writes it into the JUnit report, and
// a scenario run in a process of its own (softplc test -j N) hands it back as JSON.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "softplc/util/result.h"

namespace softplc {

// An expectation that did not hold, at the cycle where that showed.
struct ScenarioFailure {
  std::string where;                   // FILE:LINE:COLUMN of the expectation
  uint64_t cycle = 0;
  int64_t timeNs = 0;
  std::string message;                 // "IntRampOut = 0, expected 50 ± 0.5"
  std::vector<std::string> written;    // "IntRampOut is written at CCodePublic.st:51: IntRampOut := IntRamp.Out;"
  std::vector<std::string> variables;  // the variables it looks at (for the failure's plot)
  int64_t fromNs = 0;                  // the expectation's time, or the start of its interval

  // "FILE:L:C: at t=50s (cycle 5000): MESSAGE".
  std::string line() const;
  // The line, then a line "INDENTNAME is written at ..." for each place.
  std::string lines(std::string_view indent) const;
};

struct ScenarioOutcome {
  enum class Status : uint8_t { Passed, Failed, Broken };   // Broken: it could not run to its end
  std::string file;
  std::string name;
  uint32_t line = 0;
  Status status = Status::Passed;
  std::string error;                        // Broken: why
  std::vector<ScenarioFailure> failures;    // in the order they showed
  std::vector<std::string> notes;           // what a `within` took: "FILE:L:C: IntRampReached = TRUE after 100.01s ..."
  uint64_t cycles = 0;
  int64_t simulatedNs = 0;                  // the last cycle's time
  double wallSeconds = 0;
  std::optional<std::string> trace;         // --trace-failures: the files written for a failure
  std::optional<std::string> plot;

  bool passed() const { return status == Status::Passed; }
  std::string id() const { return file + ": " + name; }
};

// As JSON (one line) and back; a text that is not such JSON gives an error.
std::string outcome_to_json(const ScenarioOutcome& outcome);
Result<ScenarioOutcome> outcome_from_json(std::string_view text);

}  // namespace softplc
