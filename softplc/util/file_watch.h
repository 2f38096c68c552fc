// Noticing that a file was replaced or rewritten: a thread that watches the file's folder (inotify
// on Linux; elsewhere the file's size and time, polled) and reports, once the file has stopped
// changing for a settle time, that a new version is there. What is watched is the path: when the
// folder itself is moved away or deleted, the watch leaves it and takes the folder that has the
// path next (a new version if the file is in it), looking for it until one appears.
// file_watch_posix.cpp and file_watch_win32.cpp hold the two ways of noticing; CMake builds the
// one that fits.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <thread>

#include "softplc/util/result.h"

namespace softplc {

class FileWatch {
  struct Key {};   // only start() makes a FileWatch

 public:
  explicit FileWatch(Key) {}
  // Calls `changed` (on the watch's own thread) each time the file at `path` has been created,
  // rewritten or replaced and then left alone for `settle`.
  static Result<std::unique_ptr<FileWatch>> start(const std::filesystem::path& path, std::chrono::milliseconds settle,
                                                   std::function<void()> changed);
  ~FileWatch();
  FileWatch(const FileWatch&) = delete;
  FileWatch& operator=(const FileWatch&) = delete;

  // How the file is watched: "inotify" or "polling".
  const char* method() const;

 private:
  void run();
  // The platform's part. open(): before the thread starts; wait_for_change(): waits up to
  // `timeout` for a sign that the file changed, true when there was one; wake(): a wait ends at
  // once (stop_ is set); close(): after the thread has ended, also after a failed open().
  Status open();
  bool wait_for_change(std::chrono::milliseconds timeout);
  void wake();
  void close();

  std::filesystem::path path_;
  std::chrono::milliseconds settle_{};
  std::function<void()> changed_;
  std::atomic<bool> stop_{false};
  int inotify_ = -1;           // Linux
  int folder_ = -1;            // Linux: the folder's watch (-1: the folder is gone, looked for again)
  int wakeup_[2] = {-1, -1};   // Linux: a pipe whose reading end becomes readable at wake()
  struct Look {
    bool exists = false;
    std::uintmax_t size = 0;
    std::filesystem::file_time_type time{};
    bool operator==(const Look&) const = default;
  };
  Look seen_;   // polling: the file as last seen
  static Look look_at(const std::filesystem::path& path);
  std::thread thread_;
};

}  // namespace softplc
