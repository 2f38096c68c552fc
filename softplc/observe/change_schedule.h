// Online changes at fixed cycles (--replace-at): before cycle N the module at PATH replaces the
// running one. Each change is prepared ahead (its files read and its library loaded off the cycle
// thread, a couple of seconds of the run's clock before its cycle), and made before cycle N: on the
// simulated clock exactly then, in real time as soon after as the preparation is done. Each change
// made is printed with its cycle; a refused one (the running module runs on) is reported with its
// reason, and so is one whose cycle the run did not reach.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
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
  // How long before its cycle (of the run's clock) a change is prepared.
  static constexpr int64_t kPrepareAheadNs = 2'000'000'000;

  // `replacements` in cycle order, at most one per cycle.
  ChangeSchedule(std::vector<Replacement> replacements, std::ostream& out, std::ostream& err);
  ~ChangeSchedule() override;

  unsigned points() const override { return kBeforeCycle; }
  // Asks for the preparation of a change due at the first cycles; call once, before the run.
  void start(Engine& engine);
  void before_cycle(Engine& engine, uint64_t index) override;

  // Reports the changes whose cycle the run did not reach; call once, after the run.
  void finish(uint64_t cycles);

  std::size_t planned() const { return replacements_.size(); }
  std::size_t made() const { return made_; }
  std::size_t not_made() const { return notMade_; }

 private:
  void ask(Engine& engine, uint64_t index);

  std::vector<Replacement> replacements_;
  std::ostream& out_;
  std::ostream& err_;
  std::size_t next_ = 0;
  std::shared_ptr<ChangeRequest> request_;   // for replacements_[next_]
  std::size_t made_ = 0;
  std::size_t notMade_ = 0;
};

}  // namespace softplc
