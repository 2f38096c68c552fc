#include "softplc/run/prepare.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "softplc/util/files.h"
#include "softplc/util/platform.h"

namespace softplc {

Result<std::filesystem::path> module_path(const std::filesystem::path& given) {
  if (!given.empty()) return given;
  auto path = default_module_path();
  if (!path) return path.error();
  std::error_code ec;
  if (!std::filesystem::exists(*path, ec)) {
    return runtime_error("no module named and none beside softplc (" + path->string() +
                         "); name one: softplc run MODULE");
  }
  return path;
}

namespace {

Result<std::vector<Assignment>> resolve_assignments(const Plc& plc, const std::vector<std::string>& texts,
                                                    const char* option) {
  std::vector<Assignment> assignments;
  for (const std::string& set : texts) {
    const auto equals = set.find('=');
    if (equals == std::string::npos || equals == 0) {
      return usage_error(std::string(option) + " expects NAME=VALUE, got '" + set + "'");
    }
    auto variable = plc.variable(std::string_view(set).substr(0, equals));
    if (!variable) return variable.error();
    auto value = parse_value(variable->type, std::string_view(set).substr(equals + 1));
    if (!value) return usage_error(variable->name + ": " + value.error().message);
    auto bytes = encode(*value, plc.ticks_per_second());
    if (!bytes) return usage_error(variable->name + ": " + bytes.error().message);
    assignments.push_back({*variable, *bytes});
  }
  return assignments;
}

// Whether a file can be written at `path`: its folder exists and a file of that name may be created
// there. A file this check creates is removed again.
Status check_writable(const std::filesystem::path& path, const char* what) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) {
    return runtime_error("cannot write " + std::string(what) + " " + path.string() + ": it is a directory");
  }
  const bool existed = std::filesystem::exists(path, ec);
  errno = 0;
  std::FILE* file = open_file(path, "ab");
  if (file == nullptr) {
    const int error = errno;
    return runtime_error("cannot write " + std::string(what) + " " + path.string() +
                         (error != 0 ? std::string(": ") + std::strerror(error) : std::string()));
  }
  std::fclose(file);
  if (!existed) std::filesystem::remove(path, ec);
  return ok_status();
}

}  // namespace

Status check_outputs(const RunPlan& plan) {
  if (plan.tracePath && plan.plotting()) {
    std::error_code a, b;
    const auto trace = std::filesystem::weakly_canonical(std::filesystem::absolute(*plan.tracePath), a);
    const auto plot = std::filesystem::weakly_canonical(std::filesystem::absolute(plan.plot.path), b);
    if (!a && !b && trace == plot) {
      return usage_error("--trace and --plot name the same file " + plan.tracePath->string() +
                         ": the picture would overwrite the trace");
    }
  }
  // The trace file is created before the first cycle; the picture comes at the end, so whether it
  // can be written is tried now.
  if (plan.plotting()) {
    if (auto status = check_writable(plan.plot.path, "plot file"); !status) return status;
  }
  return ok_status();
}

Result<std::vector<Assignment>> resolve_sets(const Plc& plc, const std::vector<std::string>& sets) {
  return resolve_assignments(plc, sets, "--set");
}

Result<std::vector<Assignment>> resolve_forces(const Plc& plc, const std::vector<std::string>& forces) {
  auto resolved = resolve_assignments(plc, forces, "--force");
  if (!resolved) return resolved;
  for (std::size_t i = 0; i < resolved->size(); ++i) {
    for (std::size_t j = 0; j < i; ++j) {
      if ((*resolved)[i].variable.offset == (*resolved)[j].variable.offset) {
        return usage_error("--force: " + (*resolved)[i].variable.name + " is forced twice");
      }
    }
  }
  return resolved;
}

Status write_assignments(Plc& plc, const std::vector<Assignment>& assignments) {
  for (const Assignment& assignment : assignments) {
    if (auto status = plc.write(assignment.variable, assignment.bytes.view()); !status) return status;
  }
  return ok_status();
}

Result<std::vector<Variable>> resolve_list(const Plc& plc, const std::vector<std::string>& names) {
  std::vector<Variable> variables;
  for (const std::string& name : names) {
    auto variable = plc.variable(name);
    if (!variable) return variable.error();
    const bool seen = std::any_of(variables.begin(), variables.end(), [&](const Variable& v) {
      return v.offset == variable->offset && v.type == variable->type;
    });
    if (!seen) variables.push_back(*variable);
  }
  return variables;
}

}  // namespace softplc
