// Online changes at fixed cycles (--replace-at): before cycle N the module at PATH replaces the
// running one. Each change made is printed with its cycle; a refused one (the running module runs
// on) is reported with its reason, and so is one whose cycle the run did not reach.
#pragma once

#include <cstdint>
#include <filesystem>
#include <ostream>
#include <vector>

#include "softplc/engine/engine.h"

namespace softplc {

struct Replacement {
  uint64_t beforeCycle = 0;
  std::filesystem::path module;
};

class ChangeSchedule : public CycleObserver {
 public:
  // `replacements` in cycle order, at most one per cycle.
  ChangeSchedule(std::vector<Replacement> replacements, std::ostream& out, std::ostream& err);

  unsigned points() const override { return kBeforeCycle; }
  void before_cycle(Engine& engine, uint64_t index) override;

  // Reports the changes whose cycle the run did not reach; call once, after the run.
  void finish(uint64_t cycles);

  std::size_t planned() const { return replacements_.size(); }
  std::size_t made() const { return made_; }
  std::size_t not_made() const { return notMade_; }

 private:
  std::vector<Replacement> replacements_;
  std::ostream& out_;
  std::ostream& err_;
  std::size_t next_ = 0;
  std::size_t made_ = 0;
  std::size_t notMade_ = 0;
};

// "before cycle 500: online change from A (layout 0x...) to B (layout 0x..., VERSION), 27 references
// mapped", and a line for each held variable the new module does not have.
std::string describe_change(const ChangeOutcome& change, uint64_t beforeCycle);

}  // namespace softplc
