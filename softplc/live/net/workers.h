// A fixed set of threads that run tasks in the order they were given, below the cycle's priority.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "softplc/util/result.h"

namespace softplc::net {

class WorkerPool {
 public:
  WorkerPool() = default;
  ~WorkerPool() { stop(); }
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // Starts `threads` threads; an error when the system gives fewer (none is left running then).
  Status start(std::size_t threads);
  void submit(std::function<void()> task);
  // Waits for the tasks being run; those not begun yet are dropped.
  void stop();

 private:
  void work();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> tasks_;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace softplc::net
