#include "softplc/util/files.h"

#include <cerrno>
#include <chrono>
#include <system_error>
#include <thread>
#include <utility>

#include <sys/stat.h>
#include <sys/types.h>

#if defined(_WIN32)
#include <io.h>
#else
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <unistd.h>
#endif

#if !defined(_WIN32)
// Files of any size on the 32-bit build, too: a trace may pass 2 GiB.
using FileStatus = struct stat64;
inline int status_of(const char* path, FileStatus* status) { return ::stat64(path, status); }
inline int status_of(int fd, FileStatus* status) { return ::fstat64(fd, status); }
#endif

namespace softplc {

namespace {

// What a path that is not a regular file is, as the reason for refusing it.
std::string not_regular(unsigned mode) {
#if defined(_WIN32)
  if ((mode & _S_IFMT) == _S_IFDIR) return "it is a directory, not a file";
  if ((mode & _S_IFMT) == _S_IFCHR) return "it is a device, not a regular file";
  return "it is not a regular file";
#else
  if (S_ISDIR(mode)) return "it is a directory, not a file";
  if (S_ISFIFO(mode)) return "it is a named pipe (FIFO), not a regular file";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "it is a device, not a regular file";
  if (S_ISSOCK(mode)) return "it is a socket, not a regular file";
  return "it is not a regular file";
#endif
}

std::string larger_than(uint64_t limit) { return "it is larger than " + std::to_string(limit >> 20) + " MiB"; }

}  // namespace

std::string display_path(const std::filesystem::path& path) {
  constexpr std::size_t kShown = 160;
  std::string text = path.string();
  if (text.size() <= kShown) return text;
  return text.substr(0, kShown / 2) + "..." + text.substr(text.size() - kShown / 4) + " (a path of " +
         std::to_string(text.size()) + " characters)";
}

std::string system_reason(int error) { return std::generic_category().message(error); }

std::FILE* open_file(const std::filesystem::path& path, const char* mode) {
#if defined(_WIN32)
  const std::string text(mode);
  return _wfopen(path.c_str(), std::wstring(text.begin(), text.end()).c_str());
#else
  return std::fopen(path.c_str(), (std::string(mode) + "e").c_str());
#endif
}

#if defined(_WIN32)

Result<std::vector<uint8_t>> read_file_bytes(const std::filesystem::path& path, uint64_t limit) {
  struct _stat64 status {};
  if (_wstat64(path.c_str(), &status) != 0) return runtime_error(system_reason(errno != 0 ? errno : EIO));
  if ((status.st_mode & _S_IFMT) != _S_IFREG) return runtime_error(not_regular(status.st_mode));
  errno = 0;
  std::FILE* file = open_file(path, "rb");
  if (file == nullptr) return runtime_error(system_reason(errno != 0 ? errno : EIO));
  // What was opened is what counts: the name may have been given to something else in between.
  if (_fstat64(_fileno(file), &status) != 0 || (status.st_mode & _S_IFMT) != _S_IFREG) {
    std::fclose(file);
    return runtime_error(not_regular(status.st_mode));
  }
  if (static_cast<uint64_t>(status.st_size) > limit) {
    std::fclose(file);
    return runtime_error(larger_than(limit));
  }
  std::vector<uint8_t> bytes;
  uint8_t buffer[65536];
  std::size_t count = 0;
  while ((count = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
    if (bytes.size() + count > limit) {
      std::fclose(file);
      return runtime_error(larger_than(limit));
    }
    bytes.insert(bytes.end(), buffer, buffer + count);
  }
  const bool failed = std::ferror(file) != 0;
  const int error = errno;
  std::fclose(file);
  if (failed) return runtime_error(system_reason(error != 0 ? error : EIO));
  return bytes;
}

#else

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
  if (static_cast<uint64_t>(status.st_size) > limit) return fail(larger_than(limit));
  std::vector<uint8_t> bytes;
  bytes.reserve(static_cast<std::size_t>(status.st_size));
  uint8_t buffer[65536];
  for (;;) {
    const ssize_t count = ::read(fd, buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) return fail(system_reason(errno));
    if (count == 0) break;
    // The file may have grown since it was looked at.
    if (bytes.size() + static_cast<std::size_t>(count) > limit) return fail(larger_than(limit));
    bytes.insert(bytes.end(), buffer, buffer + count);
  }
  ::close(fd);
  return bytes;
}

#endif

Status write_file(const std::filesystem::path& path, std::string_view bytes, bool newFile) {
  errno = 0;
#if defined(_WIN32)
  (void)newFile;
  std::FILE* file = open_file(path, "wb");
#else
  std::FILE* file = open_file(path, newFile ? "wbx" : "wb");
#endif
  if (file == nullptr) return runtime_error(system_reason(errno != 0 ? errno : EIO));
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  const int writeError = errno;
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed) return runtime_error(system_reason(writeError != 0 ? writeError : errno != 0 ? errno : EIO));
  return ok_status();
}

// ---- OutputFile ----------------------------------------------------------------------------------

OutputFile::OutputFile(OutputFile&& other) noexcept { *this = std::move(other); }

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
  if (this != &other) {
    release();
#if defined(_WIN32)
    file_ = std::exchange(other.file_, nullptr);
#else
    fd_ = std::exchange(other.fd_, -1);
    wake_[0] = std::exchange(other.wake_[0], -1);
    wake_[1] = std::exchange(other.wake_[1], -1);
#endif
    pipe_ = other.pipe_;
    cancelled_ = other.cancelled_.load();
  }
  return *this;
}

OutputFile::~OutputFile() { release(); }

#if defined(_WIN32)

Result<OutputFile> OutputFile::create(const std::filesystem::path& path, const std::function<bool()>&) {
  errno = 0;
  std::FILE* file = open_file(path, "wb");
  if (file == nullptr) return runtime_error(system_reason(errno != 0 ? errno : EIO));
  // The caller writes in large pieces: the stream needs no buffer of its own.
  std::setvbuf(file, nullptr, _IONBF, 0);
  OutputFile output;
  output.file_ = file;
  return output;
}

std::size_t OutputFile::atomic_bytes() { return 0; }

OutputFile::Written OutputFile::write(std::span<const char> bytes) {
  Written written;
  errno = 0;
  written.bytes = std::fwrite(bytes.data(), 1, bytes.size(), file_);
  if (written.bytes != bytes.size()) written.error = errno != 0 ? errno : EIO;
  return written;
}

void OutputFile::cancel() { cancelled_ = true; }

void OutputFile::truncate(uint64_t size) {
  if (file_ != nullptr) (void)_chsize_s(_fileno(file_), static_cast<__int64>(size));
}

Status OutputFile::close() {
  if (file_ == nullptr) return ok_status();
  errno = 0;
  const bool closed = std::fclose(std::exchange(file_, nullptr)) == 0;
  return closed ? ok_status() : runtime_error(system_reason(errno != 0 ? errno : EIO));
}

void OutputFile::release() noexcept {
  if (file_ != nullptr) std::fclose(std::exchange(file_, nullptr));
}

#else

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

#endif

}  // namespace softplc
