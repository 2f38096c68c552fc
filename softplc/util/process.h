// Starting a helper program (gnuplot) and waiting for it, and temporary files that remove
// themselves. process_posix.cpp and process_win32.cpp start the programs; CMake builds the one
// that fits.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "softplc/util/result.h"

namespace softplc {

// Runs `program` (looked up in PATH) with `arguments`, with the host's standard streams, and waits
// for it, at most `timeout` (then it is stopped and the result is an error). The result is its
// exit status; a program that cannot be found gives an error saying so, `missingHint` appended
// (e.g. how to install it).
Result<int> run_program(const std::string& program, const std::vector<std::string>& arguments,
                        const std::string& missingHint, std::chrono::milliseconds timeout);

// This process's id.
int process_id();

// A file name in the system's temporary folder, unique to this process; the file (if it was
// created) is removed when the object goes.
class TemporaryFile {
 public:
  explicit TemporaryFile(const std::string& suffix);
  ~TemporaryFile();
  TemporaryFile(TemporaryFile&& other) noexcept : path_(std::move(other.path_)) { other.path_.clear(); }
  TemporaryFile& operator=(TemporaryFile&&) = delete;
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

namespace detail {
// "gnuplot did not finish within 120 s and was stopped", for the platform files.
std::string program_too_slow(const std::string& program, std::chrono::milliseconds timeout);
}  // namespace detail

}  // namespace softplc
