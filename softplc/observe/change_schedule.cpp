#include "softplc/observe/change_schedule.h"

namespace softplc {

std::string describe_change(const ChangeOutcome& change, uint64_t beforeCycle) {
  std::string text = "before cycle " + std::to_string(beforeCycle) + ": online change from " + change.from +
                     " (layout " + hex32(change.fromLayout) + ") to " + change.to + " (layout " +
                     hex32(change.toLayout) + ", " + change.toCodeVersion + "), " + std::to_string(change.mapped) +
                     (change.mapped == 1 ? " reference" : " references") + " mapped\n";
  for (const std::string& name : change.lost) {
    text += "  " + change.to + " has no variable " + name + " of the same type: it is no longer read\n";
  }
  return text;
}

ChangeSchedule::ChangeSchedule(std::vector<Replacement> replacements, std::ostream& out, std::ostream& err)
    : replacements_(std::move(replacements)), out_(out), err_(err) {}

void ChangeSchedule::before_cycle(Engine& engine, uint64_t index) {
  for (; next_ < replacements_.size() && replacements_[next_].beforeCycle == index; ++next_) {
    const Replacement& replacement = replacements_[next_];
    const std::string running = engine.plc().module().name();
    auto change = engine.change_module(replacement.module);
    if (!change) {
      err_ << "softplc: online change before cycle " << index << " to " << replacement.module.string() << " refused, "
           << running << " keeps running: " << change.error().message << "\n";
      ++notMade_;
      continue;
    }
    out_ << describe_change(*change, index);
    ++made_;
  }
}

void ChangeSchedule::finish(uint64_t cycles) {
  for (; next_ < replacements_.size(); ++next_) {
    err_ << "softplc: online change before cycle " << replacements_[next_].beforeCycle << " to "
         << replacements_[next_].module.string() << " not made: the run ended after " << cycles
         << (cycles == 1 ? " cycle\n" : " cycles\n");
    ++notMade_;
  }
}

}  // namespace softplc
