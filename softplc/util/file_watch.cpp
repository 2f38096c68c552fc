#include "softplc/util/file_watch.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#if defined(__linux__)
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>
#endif

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

namespace {

constexpr std::chrono::milliseconds kPoll{200};

#if defined(__linux__)
// The file's events in the folder, and the folder's own: moved away or deleted.
constexpr uint32_t kFolderEvents = IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE | IN_MODIFY | IN_ATTRIB | IN_DELETE |
                                   IN_MOVE_SELF | IN_DELETE_SELF | IN_ONLYDIR;
#endif

}  // namespace

bool FileWatch::arm() {
#if defined(__linux__)
  folder_ = inotify_add_watch(inotify_, path_.parent_path().c_str(), kFolderEvents);
  return folder_ >= 0;
#else
  return false;
#endif
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
#if defined(__linux__)
  // The folder, not the file: a build replaces the file by another (a rename), which a watch on
  // the file itself would lose.
  watch->inotify_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (watch->inotify_ < 0) return runtime_error(std::string("cannot watch files: ") + std::strerror(errno));
  if (!watch->arm()) {
    const int error = errno;
    close(watch->inotify_);
    return runtime_error("cannot watch " + watch->path_.parent_path().string() + ": " + std::strerror(error));
  }
  if (pipe(watch->wakeup_) != 0) {
    close(watch->inotify_);
    return runtime_error(std::string("cannot watch files: ") + std::strerror(errno));
  }
#endif
  watch->thread_ = std::thread([raw = watch.get()] { raw->run(); });
  return watch;
}

FileWatch::~FileWatch() {
  stop_ = true;
#if defined(__linux__)
  if (wakeup_[1] >= 0) (void)!write(wakeup_[1], "x", 1);
#endif
  if (thread_.joinable()) thread_.join();
#if defined(__linux__)
  if (inotify_ >= 0) close(inotify_);
  for (int fd : wakeup_)
    if (fd >= 0) close(fd);
#endif
}

const char* FileWatch::method() const { return inotify_ >= 0 ? "inotify" : "polling"; }

// Waits up to `timeout` for a sign that the file changed; true when there was one.
bool FileWatch::wait_for_change(std::chrono::milliseconds timeout) {
#if defined(__linux__)
  if (folder_ < 0) {
    // The folder is gone: looked for again in a while. A new folder holding the file holds a new
    // version of it.
    pollfd wake = {wakeup_[0], POLLIN, 0};
    if (arm()) return look_at(path_).exists;
    (void)poll(&wake, 1, static_cast<int>(std::min(timeout, kPoll).count()));
    return false;
  }
  pollfd fds[2] = {{inotify_, POLLIN, 0}, {wakeup_[0], POLLIN, 0}};
  if (poll(fds, 2, static_cast<int>(timeout.count())) <= 0 || stop_) return false;
  alignas(inotify_event) char buffer[4096];
  bool ours = false;
  bool folderLeft = false;
  const std::string name = path_.filename().string();
  for (ssize_t length; (length = read(inotify_, buffer, sizeof buffer)) > 0;) {
    for (char* at = buffer; at < buffer + length;) {
      const auto* event = reinterpret_cast<const inotify_event*>(at);
      at += sizeof(inotify_event) + event->len;
      // Events of a folder left before are no longer ours.
      if (event->wd != folder_) continue;
      if ((event->mask & (IN_MOVE_SELF | IN_DELETE_SELF | IN_IGNORED)) != 0) folderLeft = true;
      if (event->len != 0 && name == event->name) ours = true;
    }
  }
  if (folderLeft) {
    // Moved away (the watch would follow it) or deleted: the path's folder is another one now.
    inotify_rm_watch(inotify_, folder_);
    folder_ = -1;
    if (arm() && look_at(path_).exists) ours = true;
  }
  return ours;
#else
  for (auto waited = std::chrono::milliseconds(0); waited < timeout && !stop_; waited += kPoll) {
    std::this_thread::sleep_for(kPoll);
    const Look now = look_at(path_);
    if (!(now == seen_)) {
      seen_ = now;
      return true;
    }
  }
  return false;
#endif
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
