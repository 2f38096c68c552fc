// Files on Linux: descriptors that no started program inherits, 64-bit sizes on the 32-bit build,
// FIFOs opened and written without a wait that cannot be ended.
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <pthread.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <thread>
#include <utility>

#include "softplc/util/files.h"

// Files of any size on the 32-bit build, too: a trace may pass 2 GiB.
using FileStatus = struct stat64;
inline int status_of(const char* path, FileStatus* status) { return ::stat64(path, status); }
inline int status_of(int fd, FileStatus* status) { return ::fstat64(fd, status); }

namespace softplc {

namespace {

// What a path that is not a regular file is, as the reason for refusing it.
std::string not_regular(unsigned mode) {
  if (S_ISDIR(mode)) return "it is a directory, not a file";
  if (S_ISFIFO(mode)) return "it is a named pipe (FIFO), not a regular file";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "it is a device, not a regular file";
  if (S_ISSOCK(mode)) return "it is a socket, not a regular file";
  return "it is not a regular file";
}

}  // namespace

std::FILE* open_file(const std::filesystem::path& path, const char* mode) {
  return std::fopen(path.c_str(), (std::string(mode) + "e").c_str());
}

std::FILE* open_new_file(const std::filesystem::path& path) { return open_file(path, "wbx"); }

Result<std::vector<uint8_t>> read_file_bytes(const std::filesystem::path& path, uint64_t limit) {
  // Looked at before it is opened: opening a FIFO or a device may wait, or do something.
  FileStatus status {};
  if (status_of(path.c_str(), &status) != 0) return runtime_error(system_reason(errno));
  if (!S_ISREG(status.st_mode)) return runtime_error(not_regular(status.st_mode));
  // Not waiting even if the name was given to a FIFO in between; what was opened is what counts.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | O_LARGEFILE);
  if (fd < 0) return runtime_error(system_reason(errno));
  const auto fail = [fd](std::string reason) {
    ::close(fd);
    return runtime_error(std::move(reason));
  };
  if (status_of(fd, &status) != 0) return fail(system_reason(errno));
  if (!S_ISREG(status.st_mode)) return fail(not_regular(status.st_mode));
  if (static_cast<uint64_t>(status.st_size) > limit) return fail(detail::larger_than(limit));
  std::vector<uint8_t> bytes;
  bytes.reserve(static_cast<std::size_t>(status.st_size));
  uint8_t buffer[65536];
  for (;;) {
    const ssize_t count = ::read(fd, buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) return fail(system_reason(errno));
    if (count == 0) break;
    // The file may have grown since it was looked at.
    if (bytes.size() + static_cast<std::size_t>(count) > limit) return fail(detail::larger_than(limit));
    bytes.insert(bytes.end(), buffer, buffer + count);
  }
  ::close(fd);
  return bytes;
}

Result<std::filesystem::path> create_private_folder(const std::filesystem::path& base, const std::string& prefix) {
  std::string pattern = (base / (prefix + "XXXXXX")).string();
  if (::mkdtemp(pattern.data()) == nullptr) return runtime_error(system_reason(errno));   // mode 0700
  return std::filesystem::path(pattern);
}

// ---- OutputFile ----------------------------------------------------------------------------------

Result<OutputFile> OutputFile::create(const std::filesystem::path& path, const std::function<bool()>& keepWaiting) {
  // Opened without waiting: a FIFO that nobody reads refuses (ENXIO) rather than holding the call,
  // so the wait for its reader can be ended. Writes never wait either; write() waits in poll().
  constexpr int kFlags = O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | O_LARGEFILE;
  int fd = -1;
  for (;;) {
    fd = ::open(path.c_str(), kFlags, 0666);
    if (fd >= 0) break;
    const int error = errno;
    if (error == EINTR) continue;
    FileStatus status {};
    if (error != ENXIO || status_of(path.c_str(), &status) != 0 || !S_ISFIFO(status.st_mode))
      return runtime_error(system_reason(error));
    if (!keepWaiting()) return runtime_error("no program opened the FIFO for reading");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  OutputFile output;
  output.fd_ = fd;
  FileStatus status {};
  if (status_of(fd, &status) != 0) return runtime_error(system_reason(errno));
  output.pipe_ = S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode);
  if (::pipe2(output.wake_, O_CLOEXEC | O_NONBLOCK) != 0) return runtime_error(system_reason(errno));
  return output;
}

std::size_t OutputFile::atomic_bytes() { return PIPE_BUF; }

OutputFile::Written OutputFile::write(std::span<const char> bytes) {
  Written written;
  while (written.bytes < bytes.size()) {
    if (cancelled_.load()) {
      written.cancelled = true;
      return written;
    }
    const ssize_t count = ::write(fd_, bytes.data() + written.bytes, bytes.size() - written.bytes);
    if (count > 0) {
      written.bytes += static_cast<std::size_t>(count);
      continue;
    }
    const int error = count < 0 ? errno : EIO;
    if (error == EINTR) continue;
    if (error != EAGAIN && error != EWOULDBLOCK) {
      written.error = error;
      return written;
    }
    // The reader is behind: wait for room, or for cancel().
    pollfd fds[2] = {{fd_, POLLOUT, 0}, {wake_[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0 && errno != EINTR) {
      written.error = errno;
      return written;
    }
  }
  return written;
}

void OutputFile::cancel() {
  cancelled_ = true;
  if (wake_[1] >= 0) (void)!::write(wake_[1], "x", 1);
}

void OutputFile::truncate(uint64_t size) {
  FileStatus status {};
  if (fd_ >= 0 && status_of(fd_, &status) == 0 && S_ISREG(status.st_mode))
    (void)!::ftruncate64(fd_, static_cast<off64_t>(size));
}

Status OutputFile::close() {
  if (fd_ < 0) return ok_status();
  const bool closed = ::close(std::exchange(fd_, -1)) == 0;
  const int error = errno;
  return closed || error == EINTR ? ok_status() : runtime_error(system_reason(error));
}

void OutputFile::release() noexcept {
  if (fd_ >= 0) ::close(std::exchange(fd_, -1));
  for (int& fd : wake_)
    if (fd >= 0) ::close(std::exchange(fd, -1));
}

// The signal a write to a FIFO without a reader raises is meant for the writing thread, which does
// not take it.
void OutputFile::set_up_writer_thread() {
  sigset_t pipeSignal;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
}

}  // namespace softplc
