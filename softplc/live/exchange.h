// The between-cycles exchange that every live channel (Modbus, the web view) shares. After each
// cycle it publishes a snapshot of the whole data area, taken in one read, so that a channel never
// sees a value half old and half new. Writes and forces that channels submit from their own threads
// are queued and applied between two cycles, in the order they arrived, each one whole; a channel
// waits for the result of its request, never the cycle for a channel.
//
// Forcing: a forced variable is written before every cycle and, when the program writes it itself,
// again right after the cycle, so that every reader outside the program (trace, report, snapshot)
// sees the forced value until the force is released.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <future>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "softplc/engine/engine.h"

namespace softplc {

// The data area after one cycle, with what a channel needs to read it.
struct Snapshot {
  uint64_t cycles = 0;       // cycles run when it was taken
  int64_t timeNs = 0;        // the time of the last of them
  uint32_t ticksPerSecond = 0;
  std::shared_ptr<const Symbols> symbols;   // the names of the module that ran it (null without)
  std::vector<uint8_t> data;                // the whole data area
  uint64_t forcesVersion = 0;               // changes whenever the set of forces changes
};

struct Force {
  Variable variable;
  Encoded value;
};

// One value of a group written together.
struct VariableWrite {
  Variable variable;
  Encoded value;
};

class Exchange : public CycleObserver {
 public:
  explicit Exchange(Engine& engine);
  ~Exchange() override;
  Exchange(const Exchange&) = delete;
  Exchange& operator=(const Exchange&) = delete;

  // ---- channels, any thread ----
  // The latest snapshot (one taken before the first cycle, right after initialisation, at first).
  std::shared_ptr<const Snapshot> latest() const;
  // Waits until a snapshot after `cycles` cycles exists, the run ends or `timeout` passes; gives
  // the latest snapshot then.
  std::shared_ptr<const Snapshot> wait_after(uint64_t cycles, std::chrono::milliseconds timeout) const;
  // Writes a value once, between two cycles; the result comes when it was applied.
  std::future<Status> write(const Variable& variable, const Encoded& value);
  // Writes several values between the same two cycles, in their order, all or none: when one of
  // the variables is unknown to the running module (an online change came in between), none is
  // written.
  std::future<Status> write_many(std::vector<VariableWrite> writes);
  // Forces a value until released; releasing a variable that is not forced is refused.
  std::future<Status> force(const Variable& variable, const Encoded& value);
  std::future<Status> release(const Variable& variable);
  std::vector<Force> forces() const;
  bool ended() const;
  // An online change between two cycles: the module at `path` replaces the running one (its files
  // are read off the cycle thread first). The run's log (set_log) gets the change, or the
  // refusal, with its cycle.
  std::future<Result<ChangeOutcome>> change_module(const std::filesystem::path& path);
  void set_log(std::ostream* out, std::ostream* err) {
    out_ = out;
    err_ = err;
  }

  // ---- the engine's thread ----
  // Forces from the command line, applied from the first cycle on.
  void force_now(const Variable& variable, const Encoded& value);
  // Takes the snapshot before the first cycle.
  void publish_initial();
  // The run has ended: pending and later requests fail.
  void end();
  // Between two cycles, now: applies what the channels asked for since the last cycle began (and
  // tells of the online changes made). Done before every cycle; a front end that holds the program
  // between two cycles (the debugger at its prompt) calls it when it stops there.
  void serve_requests();

  void before_cycle(Engine& engine, uint64_t index) override;
  void cycle_starting(Engine& engine, uint64_t index, int64_t timeNs) override;
  void after_cycle(Engine& engine, const CycleInfo& cycle) override;
  void module_changed(Engine& engine) override;
  // Forced variables that an online change dropped (the new module has no such variable).
  std::vector<std::string> take_dropped_forces();

 private:
  enum class Kind { Write, WriteMany, Force, Release };
  struct Request {
    Kind kind;
    Variable variable;
    Encoded value;
    const Symbols* names;   // the symbols the variable was found in
    std::promise<Status> done;
    std::vector<VariableWrite> group;   // WriteMany
  };
  struct Active {
    Variable variable;
    Encoded value;
    bool afterCycle = false;   // the program writes it: written again after each cycle
  };

  std::future<Status> submit(Kind kind, const Variable& variable, const Encoded& value,
                             std::vector<VariableWrite> group = {});
  Status apply(Request& request);
  void write_forces(bool afterCycle);
  void share_forces();
  void publish(uint64_t cycles, int64_t timeNs);
  std::shared_ptr<Snapshot> fresh_snapshot();
  Result<Variable> current(const Variable& variable, const Symbols* names) const;

  Engine& engine_;
  mutable std::mutex mutex_;            // guards everything below that channels touch
  mutable std::condition_variable published_;
  std::deque<std::unique_ptr<Request>> queue_;
  struct PendingChange {
    std::shared_ptr<ChangeRequest> request;   // the engine's
    std::promise<Result<ChangeOutcome>> done;
  };
  std::deque<std::unique_ptr<PendingChange>> changes_;
  std::shared_ptr<const Snapshot> latest_;
  std::vector<Force> forcesView_;       // a copy of active_ for channels
  uint64_t forcesVersion_ = 0;
  bool ended_ = false;
  // The engine's thread only.
  std::ostream* out_ = nullptr;
  std::ostream* err_ = nullptr;
  std::vector<Active> active_;
  std::vector<std::string> dropped_;
  std::vector<std::shared_ptr<Snapshot>> spare_;   // the snapshots taken, to be filled again
};

// Whether the program writes a variable in its cycles (so that a force must be renewed after each).
bool program_writes(const Variable& variable);

}  // namespace softplc
