#include "softplc/scenario/scenario.h"

namespace softplc {

std::vector<Variable> Scenario::checked_variables() const {
  std::vector<Variable> variables;
  const auto add = [&](const Variable& variable) {
    for (const Variable& known : variables)
      if (known.offset == variable.offset && known.type == variable.type) return;
    variables.push_back(variable);
  };
  for (const Check& check : checks) {
    if (check.value) add(check.value->variable);
    if (check.condition) {
      for (const Variable& variable : check.condition->variables()) add(variable);
    }
  }
  return variables;
}

std::string scenario_id(const Scenario& scenario) { return scenario.file + ": " + scenario.name; }

uint64_t cycle_at_or_after(int64_t ns, int64_t periodNs) {
  return ns <= 0 ? 0 : static_cast<uint64_t>((ns - 1) / periodNs) + 1;
}

uint64_t cycle_at_or_before(int64_t ns, int64_t periodNs) { return ns <= 0 ? 0 : static_cast<uint64_t>(ns / periodNs); }

}  // namespace softplc
