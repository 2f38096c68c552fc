// Files that the host reads or writes whole (module files, symbol files, maps, scripts for the
// plotter, the debugger's scripts), the file a trace streams into, private folders, and paths in
// messages. Every failure carries the system's reason. files_posix.cpp and files_win32.cpp hold
// what differs between the platforms; CMake builds the one that fits.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "softplc/util/result.h"

namespace softplc {

// A path for a message: a very long one is shortened to its start and end, with its length.
std::string display_path(const std::filesystem::path& path);

// The system's text for an errno value ("No such file or directory").
std::string system_reason(int error);

// std::fopen for every path the platform has (wide names on Windows); on Linux the file is not
// handed on to the programs the host starts (close-on-exec).
std::FILE* open_file(const std::filesystem::path& path, const char* mode);

// The whole content of a regular file, at most `limit` bytes. Anything else is refused with what it
// is ("it is a named pipe (FIFO), not a regular file"), without being opened in a way that could
// wait: a FIFO without a writer, a terminal or a device would keep the caller waiting, and a
// device may never end. The error is the reason alone (also "No such file or directory", "it is
// larger than 256 MiB"): the caller names the file.
Result<std::vector<uint8_t>> read_file_bytes(const std::filesystem::path& path, uint64_t limit);

// open_file(path, "wb") for a file that must not exist yet: one that exists is refused where the
// platform can tell (Linux), and truncated where it cannot (Windows).
std::FILE* open_new_file(const std::filesystem::path& path);

// Writes `bytes` as the whole file; `newFile`: refuses to open a file that exists already (where the
// platform can tell). The error is the reason alone.
Status write_file(const std::filesystem::path& path, std::string_view bytes, bool newFile = false);

// A new folder in `base` whose name starts with `prefix` ("softplc-"), that only this user can read
// and write (Linux: mode 0700; Windows: the user's temporary folder is the user's own, and a new
// name in it is this process's). The error is the reason alone.
Result<std::filesystem::path> create_private_folder(const std::filesystem::path& base, const std::string& prefix);

// A file written piece by piece from a thread of its own (the trace): a regular file, a device, or
// a FIFO (named pipe) that another program reads. No call waits without an end: opening a FIFO
// waits for its reader only as long as the caller lets it, and a write that waits for a slow reader
// ends when cancel() is called. On Windows the file is an ordinary one; cancel() does nothing.
class OutputFile {
 public:
  // Creates or truncates `path` for writing. A FIFO that nobody reads yet is opened once a reader
  // opens it; until then `keepWaiting` is asked every 20 ms, and when it says no, the result is an
  // error ("no program opened the FIFO ... for reading"). The error is the reason alone.
  static Result<OutputFile> create(const std::filesystem::path& path, const std::function<bool()>& keepWaiting);

  OutputFile(OutputFile&& other) noexcept;
  OutputFile& operator=(OutputFile&& other) noexcept;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile();

  // A pipe or a socket: a write of at most atomic_bytes() reaches the reader whole or not at all,
  // and what reached it cannot be taken back.
  bool is_pipe() const { return pipe_; }
  static std::size_t atomic_bytes();

  struct Written {
    std::size_t bytes = 0;    // written before the write ended
    int error = 0;            // errno of a failure (EPIPE: the reader is gone); 0 when all were written
    bool cancelled = false;   // cancel() ended the write
  };
  // Writes all of `bytes`, waiting for room as long as the reader needs.
  Written write(std::span<const char> bytes);
  // Any thread: a write waiting for room ends now, and every later one at once.
  void cancel();
  // Cuts a regular file back to `size` bytes (nothing for other files).
  void truncate(uint64_t size);
  // Closes the file; the error is the reason alone.
  Status close();

  // Called first on the thread that writes: a FIFO whose reader is gone then fails the write (EPIPE)
  // instead of raising a signal that would end the process (Linux; nothing to do on Windows).
  static void set_up_writer_thread();

 private:
  OutputFile() = default;
  void release() noexcept;

  std::FILE* file_ = nullptr;   // Windows: the stream
  int fd_ = -1;                 // Linux: the descriptor
  int wake_[2] = {-1, -1};      // Linux: a pipe whose reading end becomes readable at cancel()
  bool pipe_ = false;
  std::atomic<bool> cancelled_{false};
};

namespace detail {
// The reason for refusing a file larger than `limit` ("it is larger than 256 MiB"), for the
// platform files.
std::string larger_than(uint64_t limit);
}  // namespace detail

}  // namespace softplc
