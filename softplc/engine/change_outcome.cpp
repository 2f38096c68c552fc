#include "softplc/engine/change_outcome.h"

#include "softplc/plc/plc.h"
#include "softplc/util/text.h"

namespace softplc {

std::string describe_change(const Result<ChangeOutcome>& outcome, const ChangeContext& context) {
  const std::string cycle = std::to_string(context.beforeCycle);
  if (!outcome) {
    return std::string(context.reload ? "reload before cycle " + cycle + " of " : "online change before cycle " + cycle + " to ") +
           context.path.string() + " refused, " + context.running + " keeps running: " + outcome.error().message + "\n";
  }
  const ChangeOutcome& change = *outcome;
  std::string text = "before cycle " + cycle + ": online change from " + change.from + " (layout " +
                     hex32(change.fromLayout) + ") to " + change.to + " (layout " + hex32(change.toLayout) + ", " +
                     change.toCodeVersion + "), " + plural(change.mapped, "reference", "references") +
                     " mapped\n";
  for (const std::string& name : change.lost) {
    text += "  " + change.to + " has no variable " + name + " of the same type: it is no longer read\n";
  }
  return text;
}

void tell_change(const Result<ChangeOutcome>& outcome, const ChangeContext& context, std::ostream& out,
                 std::ostream& err) {
  if (outcome) {
    out << describe_change(outcome, context) << std::flush;
  } else {
    err << "softplc: " << describe_change(outcome, context) << std::flush;
  }
}

}  // namespace softplc
