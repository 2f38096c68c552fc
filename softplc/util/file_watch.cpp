#include "softplc/util/file_watch.h"

namespace softplc {

// What a file looks like from outside: enough to tell a new version from the old one when polling.
FileWatch::Look FileWatch::look_at(const std::filesystem::path& path) {
  std::error_code ec;
  FileWatch::Look look;
  look.size = std::filesystem::file_size(path, ec);
  if (ec) return look;
  look.time = std::filesystem::last_write_time(path, ec);
  look.exists = !ec;
  return look;
}

Result<std::unique_ptr<FileWatch>> FileWatch::start(const std::filesystem::path& path, std::chrono::milliseconds settle,
                                                     std::function<void()> changed) {
  auto watch = std::make_unique<FileWatch>(Key{});
  std::error_code ec;
  watch->path_ = std::filesystem::absolute(path, ec);
  if (ec) watch->path_ = path;
  watch->settle_ = settle;
  watch->changed_ = std::move(changed);
  watch->seen_ = look_at(watch->path_);
  if (auto opened = watch->open(); !opened) return opened.error();
  watch->thread_ = std::thread([raw = watch.get()] { raw->run(); });
  return watch;
}

FileWatch::~FileWatch() {
  stop_ = true;
  wake();
  if (thread_.joinable()) thread_.join();
  close();
}

void FileWatch::run() {
  while (!stop_) {
    if (!wait_for_change(std::chrono::milliseconds(500))) continue;
    // Settle: no further change for the settle time, and the file is there.
    while (!stop_ && wait_for_change(settle_)) {
    }
    if (stop_) return;
    if (look_at(path_).exists) changed_();
  }
}

}  // namespace softplc
