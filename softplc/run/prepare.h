// What a run checks and resolves before anything runs: the files it will write can be written, the
// module is the one named (or the one beside softplc), and the names of --set, --force and --vars
// are variables of the attached module with values of their types.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "softplc/plc/plc.h"
#include "softplc/run/plan.h"
#include "softplc/util/result.h"
#include "softplc/util/values.h"

namespace softplc {

// A value to write into a variable (before the first cycle, or before every cycle: a force).
struct Assignment {
  Variable variable;
  Encoded bytes;
};

// The module named (on the command line, in a file), or the one beside softplc.
Result<std::filesystem::path> module_path(const std::filesystem::path& given);

// Checks the files the run will write before anything runs: each can be created where it is named,
// and no two outputs are the same file.
Status check_outputs(const RunPlan& plan);

// The --set texts (NAME=VALUE) as assignments to the attached module's variables: every name
// known, every value of its variable's type; nothing is written.
Result<std::vector<Assignment>> resolve_sets(const Plc& plc, const std::vector<std::string>& sets);

// The --force texts (NAME=VALUE) as assignments, checked as --set's are; no variable twice.
Result<std::vector<Assignment>> resolve_forces(const Plc& plc, const std::vector<std::string>& forces);

// Writes the assignments (all were checked and encoded before).
Status write_assignments(Plc& plc, const std::vector<Assignment>& assignments);

// The variables named in a list ("LagOut", "IntRamp.Clock.ET", "@16:INT"), each once.
Result<std::vector<Variable>> resolve_list(const Plc& plc, const std::vector<std::string>& names);

}  // namespace softplc
