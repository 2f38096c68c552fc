// The file watch on Linux: inotify on the file's folder, which sees a file replaced by a rename
// (as a build does) that a watch on the file itself would lose.
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "softplc/util/file_watch.h"

namespace softplc {

namespace {

constexpr std::chrono::milliseconds kLookAgain{200};

// The file's events in the folder, and the folder's own: moved away or deleted.
constexpr uint32_t kFolderEvents = IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE | IN_MODIFY | IN_ATTRIB | IN_DELETE |
                                   IN_MOVE_SELF | IN_DELETE_SELF | IN_ONLYDIR;

// Watches the folder that has `path` now; -1 when there is none.
int watch_folder(int inotify, const std::filesystem::path& path) {
  return inotify_add_watch(inotify, path.parent_path().c_str(), kFolderEvents);
}

}  // namespace

Status FileWatch::open() {
  inotify_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (inotify_ < 0) return runtime_error(std::string("cannot watch files: ") + std::strerror(errno));
  folder_ = watch_folder(inotify_, path_);
  if (folder_ < 0) {
    const int error = errno;
    return runtime_error("cannot watch " + path_.parent_path().string() + ": " + std::strerror(error));
  }
  if (pipe(wakeup_) != 0) return runtime_error(std::string("cannot watch files: ") + std::strerror(errno));
  return ok_status();
}

void FileWatch::wake() {
  if (wakeup_[1] >= 0) (void)!write(wakeup_[1], "x", 1);
}

void FileWatch::close() {
  if (inotify_ >= 0) ::close(std::exchange(inotify_, -1));
  for (int& fd : wakeup_)
    if (fd >= 0) ::close(std::exchange(fd, -1));
}

const char* FileWatch::method() const { return inotify_ >= 0 ? "inotify" : "polling"; }

bool FileWatch::wait_for_change(std::chrono::milliseconds timeout) {
  if (folder_ < 0) {
    // The folder is gone: looked for again in a while. A new folder holding the file holds a new
    // version of it.
    pollfd wake = {wakeup_[0], POLLIN, 0};
    if ((folder_ = watch_folder(inotify_, path_)) >= 0) return look_at(path_).exists;
    (void)poll(&wake, 1, static_cast<int>(std::min(timeout, kLookAgain).count()));
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
    folder_ = watch_folder(inotify_, path_);
    if (folder_ >= 0 && look_at(path_).exists) ours = true;
  }
  return ours;
}

}  // namespace softplc
