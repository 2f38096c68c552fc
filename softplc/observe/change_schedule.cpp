#include "softplc/observe/change_schedule.h"

#include <algorithm>

#include "softplc/util/text.h"

namespace softplc {

ChangeSchedule::ChangeSchedule(std::vector<Replacement> replacements, std::ostream& out, std::ostream& err)
    : replacements_(std::move(replacements)), out_(out), err_(err) {}

ChangeSchedule::~ChangeSchedule() {
  if (request_) request_->cancel();
}

void ChangeSchedule::start(Engine& engine) { ask(engine, 0); }

// The next change is asked for once its cycle is near; the engine makes it before a later cycle.
void ChangeSchedule::ask(Engine& engine, uint64_t index) {
  if (request_ || next_ >= replacements_.size()) return;
  const int64_t period = engine.options().period_ns();
  const uint64_t ahead = static_cast<uint64_t>(std::max<int64_t>(1, (kPrepareAheadNs + period - 1) / period));
  const Replacement& replacement = replacements_[next_];
  if (replacement.beforeCycle <= index + ahead) {
    request_ = engine.request_change(replacement.module, replacement.beforeCycle);
  }
}

void ChangeSchedule::before_cycle(Engine& engine, uint64_t index) {
  if (request_ && request_->outcome()) {
    tell_change(*request_->outcome(), request_->context(), out_, err_);
    if (request_->outcome()->ok()) {
      const uint64_t planned = replacements_[next_].beforeCycle;
      if (index != planned) {
        out_ << "  (planned before cycle " << planned << "; the new module was still being read then)\n";
      }
      ++made_;
    } else {
      ++notMade_;
    }
    request_.reset();
    ++next_;
  }
  ask(engine, index);
}

void ChangeSchedule::finish(uint64_t cycles) {
  if (request_) request_->cancel();
  request_.reset();
  for (; next_ < replacements_.size(); ++next_) {
    err_ << "softplc: online change before cycle " << replacements_[next_].beforeCycle << " to "
         << replacements_[next_].module.string() << " not made: the run ended after "
         << plural(cycles, "cycle", "cycles") << "\n";
    ++notMade_;
  }
}

}  // namespace softplc
