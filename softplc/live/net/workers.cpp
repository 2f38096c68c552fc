#include "softplc/live/net/workers.h"

#include <system_error>

#include "softplc/live/net/socket.h"

namespace softplc::net {

Status WorkerPool::start(std::size_t threads) {
  {
    std::lock_guard lock(mutex_);
    stopping_ = false;
  }
  try {
    for (std::size_t i = 0; i < threads; ++i) threads_.emplace_back([this] { work(); });
  } catch (const std::system_error& e) {
    stop();
    return runtime_error(std::string("cannot start a serving thread: ") + e.what());
  }
  return ok_status();
}

void WorkerPool::submit(std::function<void()> task) {
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return;
    tasks_.push_back(std::move(task));
  }
  wake_.notify_one();
}

void WorkerPool::stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    tasks_.clear();
  }
  wake_.notify_all();
  for (std::thread& thread : threads_)
    if (thread.joinable()) thread.join();
  threads_.clear();
}

void WorkerPool::work() {
  lower_thread_priority();
  for (;;) {
    std::function<void()> task;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !tasks_.empty(); });
      if (stopping_) return;
      task = std::move(tasks_.front());
      tasks_.pop_front();
    }
    task();
  }
}

}  // namespace softplc::net
