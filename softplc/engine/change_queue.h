// Online changes prepared off the cycle thread. A request names a module file; a thread of the
// queue's own copies, checks and loads it with its symbol file (plc/online_change.h), one
// request at a time in the order they came, and the engine makes the change between two cycles
// once it is prepared and due. The next request is prepared only after the engine has made (or
// refused, or dropped) the one before, so every change is prepared against the module that runs
// when it is made. The modules that changes replace, and the refused ones, go back to the thread
// to be unloaded: the cycle thread only swaps.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "softplc/engine/change_outcome.h"
#include "softplc/plc/online_change.h"

namespace softplc {

// One requested change, shared by its requester, the queue and the engine.
class ChangeRequest {
 public:
  ChangeRequest(std::filesystem::path path, std::optional<uint64_t> beforeCycle)
      : path_(std::move(path)), beforeCycle_(beforeCycle) {}

  const std::filesystem::path& path() const { return path_; }
  // Due before this cycle (and then, on a simulated clock, waited for); none: as soon as prepared.
  const std::optional<uint64_t>& before_cycle() const { return beforeCycle_; }

  // The engine's thread: set once the change was made or refused, with what to tell of it.
  const std::optional<Result<ChangeOutcome>>& outcome() const { return outcome_; }
  const ChangeContext& context() const { return context_; }
  std::string describe() const { return outcome_ ? describe_change(*outcome_, context_) : std::string(); }

  // Any thread: nobody wants the change any more (the run ended before it was made).
  void cancel() { cancelled_.store(true); }
  bool cancelled() const { return cancelled_.load(); }

 private:
  friend class ChangeQueue;
  friend class Engine;

  std::filesystem::path path_;
  std::optional<uint64_t> beforeCycle_;
  std::atomic<bool> cancelled_{false};
  // The queue's mutex guards the flags; `prepared_` is the queue thread's until `ready_`, then the
  // engine thread's.
  bool preparing_ = false;
  bool ready_ = false;
  std::optional<Result<PreparedModule>> prepared_;
  // The engine's thread.
  std::optional<Result<ChangeOutcome>> outcome_;
  ChangeContext context_;
};

class ChangeQueue {
 public:
  // `prepare` reads, checks and loads the module at a path against the running one (on the queue's
  // thread, while the running module stays).
  explicit ChangeQueue(std::function<Result<PreparedModule>(const std::filesystem::path&)> prepare);
  // Ends the thread: a preparation under way is finished and dropped, and every module waiting
  // to be unloaded is unloaded.
  ~ChangeQueue();
  ChangeQueue(const ChangeQueue&) = delete;
  ChangeQueue& operator=(const ChangeQueue&) = delete;

  // Any thread.
  std::shared_ptr<ChangeRequest> request(const std::filesystem::path& path, std::optional<uint64_t> beforeCycle);
  // Whether any request waits (cheap enough to ask before every cycle).
  bool pending() const { return count_.load(std::memory_order_relaxed) != 0; }

  // The engine's thread, before cycle `index`: the first request when it is prepared and due, or
  // was cancelled; null when there is none or it is not ready yet. When `waitForScheduled` and a
  // request due before this cycle is in the queue, its preparation (and that of the ones before
  // it) is waited for, until `stop` says so.
  std::shared_ptr<ChangeRequest> next(uint64_t index, bool waitForScheduled, const std::function<bool()>& stop);
  // The request next() gave is done: it leaves the queue (a module prepared for it and not taken
  // is unloaded).
  void done(const std::shared_ptr<ChangeRequest>& request);
  // Any thread: the module (unregistered: one a change replaced, or a refused one) is unloaded on
  // the queue's thread.
  void unload(std::unique_ptr<Plc> plc);

 private:
  void run();
  bool has_due_scheduled(uint64_t index) const;

  std::function<Result<PreparedModule>(const std::filesystem::path&)> prepare_;
  mutable std::mutex mutex_;
  std::condition_variable work_;       // to the thread: a request, a module to unload, or stop
  std::condition_variable readied_;    // to the engine: a preparation is done
  std::deque<std::shared_ptr<ChangeRequest>> queue_;
  std::vector<std::unique_ptr<Plc>> unload_;
  std::atomic<std::size_t> count_{0};
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace softplc
