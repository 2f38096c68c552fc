#include "softplc/engine/change_queue.h"

#include <chrono>

namespace softplc {

ChangeQueue::ChangeQueue(std::function<Result<PreparedModule>(const std::filesystem::path&)> prepare)
    : prepare_(std::move(prepare)) {}

ChangeQueue::~ChangeQueue() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  work_.notify_all();
  if (thread_.joinable()) thread_.join();
  for (auto& request : queue_) request->prepared_.reset();
  unload_.clear();
}

std::shared_ptr<ChangeRequest> ChangeQueue::request(const std::filesystem::path& path,
                                                    std::optional<uint64_t> beforeCycle) {
  auto request = std::make_shared<ChangeRequest>(path, beforeCycle);
  {
    std::lock_guard lock(mutex_);
    if (!thread_.joinable()) thread_ = std::thread([this] { run(); });
    queue_.push_back(request);
    count_.store(queue_.size(), std::memory_order_relaxed);
  }
  work_.notify_all();
  return request;
}

bool ChangeQueue::has_due_scheduled(uint64_t index) const {
  for (const auto& request : queue_)
    if (!request->cancelled() && request->beforeCycle_ && *request->beforeCycle_ <= index) return true;
  return false;
}

std::shared_ptr<ChangeRequest> ChangeQueue::next(uint64_t index, bool waitForScheduled,
                                                 const std::function<bool()>& stop) {
  std::unique_lock lock(mutex_);
  for (;;) {
    if (queue_.empty()) return nullptr;
    const std::shared_ptr<ChangeRequest>& first = queue_.front();
    if (first->cancelled()) return first;
    if (first->beforeCycle_ && *first->beforeCycle_ > index) return nullptr;
    if (first->ready_) return first;
    if (!waitForScheduled || !has_due_scheduled(index) || stop()) return nullptr;
    // Checked again in a while: a stop, a signal or a cancel may come meanwhile.
    readied_.wait_for(lock, std::chrono::milliseconds(50));
  }
}

void ChangeQueue::done(const std::shared_ptr<ChangeRequest>& request) {
  {
    std::lock_guard lock(mutex_);
    if (!queue_.empty() && queue_.front() == request) queue_.pop_front();
    count_.store(queue_.size(), std::memory_order_relaxed);
    // A module prepared and not taken goes; one still being prepared is dropped by the thread.
    if (request->ready_ && request->prepared_ && *request->prepared_ && (**request->prepared_).plc)
      unload_.push_back(std::move((**request->prepared_).plc));
  }
  work_.notify_all();
}

void ChangeQueue::unload(std::unique_ptr<Plc> plc) {
  {
    std::lock_guard lock(mutex_);
    unload_.push_back(std::move(plc));
  }
  work_.notify_all();
}

void ChangeQueue::run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    work_.wait(lock, [&] {
      return stop_ || !unload_.empty() ||
             (!queue_.empty() && !queue_.front()->ready_ && !queue_.front()->preparing_);
    });
    if (!unload_.empty()) {
      std::vector<std::unique_ptr<Plc>> unload = std::move(unload_);
      unload_.clear();
      lock.unlock();
      unload.clear();   // unloads the libraries and removes their private copies
      lock.lock();
      continue;
    }
    if (stop_) return;
    const std::shared_ptr<ChangeRequest> request = queue_.front();
    request->preparing_ = true;
    lock.unlock();
    // The engine swaps modules only for a prepared first request, and this one is first and not
    // prepared: the running module stays while it is compared with the new file.
    std::optional<Result<PreparedModule>> prepared;
    if (!request->cancelled()) prepared.emplace(prepare_(request->path_));
    lock.lock();
    request->preparing_ = false;
    if (request->cancelled()) {
      // Nobody makes this change: the module goes as soon as the lock is free.
      if (prepared && *prepared && (**prepared).plc) unload_.push_back(std::move((**prepared).plc));
      prepared.emplace(runtime_error("the change was cancelled"));
    }
    request->prepared_ = std::move(prepared);
    request->ready_ = true;
    readied_.notify_all();
  }
}

}  // namespace softplc
