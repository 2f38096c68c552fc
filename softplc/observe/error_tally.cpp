#include "softplc/observe/error_tally.h"

#include "kxrt.h"
#include "softplc/util/text.h"
#include "softplc/util/values.h"

namespace softplc {

std::string_view error_meaning(int32_t code) {
  switch (code) {
    case KX_ERROR_REAL_DIV_BY_ZERO: return "REAL division by zero";
    case KXRT_ERROR_TIME_OVERFLOW: return "TIME overflow";
    case KXRT_ERROR_TIME_DIV_BY_ZERO: return "TIME division by zero";
    default: return {};
  }
}

std::string error_text(int32_t code) {
  const std::string_view meaning = error_meaning(code);
  return "error " + std::to_string(code) + (meaning.empty() ? "" : " (" + std::string(meaning) + ")");
}

void ErrorTally::after_cycle(Engine&, const CycleInfo& cycle) {
  if (cycle.errorCount == 0) return;
  Entry& entry = entries_[cycle.firstError];
  if (entry.cycles++ == 0) {
    entry.firstCycle = cycle.index;
    entry.firstTimeNs = cycle.timeNs;
  }
}

std::string ErrorTally::report() const {
  std::string text;
  for (const auto& [code, entry] : entries_) {
    text += error_text(code) + " recorded in " + plural(entry.cycles, "cycle", "cycles") + " (first in cycle " +
            std::to_string(entry.firstCycle) +
            " at t=" + format_seconds(entry.firstTimeNs) + "s)\n";
  }
  return text;
}

}  // namespace softplc
