// The trace file: CSV with a header row "time_s" and the traced variables' names, then one row per
// cycle. Written in binary mode with "\n" line endings, so that every platform writes the same
// bytes for the same run.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <span>
#include <string>
#include <vector>

#include "softplc/core/result.h"

namespace softplc {

class TraceWriter {
 public:
  // Creates (or truncates) the file and writes the header row.
  static Result<TraceWriter> create(const std::filesystem::path& path, std::span<const std::string> columns);

  // Appends one row: the time in seconds and one already formatted value per column.
  Status write_row(int64_t timeNs, std::span<const std::string> values);

  // Flushes and closes the file; reports a write that failed on the way.
  Status close();

  const std::filesystem::path& path() const { return path_; }

 private:
  TraceWriter(std::ofstream file, std::filesystem::path path, std::size_t columns)
      : file_(std::move(file)), path_(std::move(path)), columns_(columns) {}
  Status check();

  std::ofstream file_;
  std::filesystem::path path_;
  std::size_t columns_ = 0;
  std::string line_;
};

}  // namespace softplc
