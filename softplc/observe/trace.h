// The trace file: CSV with a header row "time_s" and the traced variables' names, then one row per
// cycle. Lines end in "\n" on every platform, so that every platform writes the same bytes for the
// same run. Rows are built in a reused buffer (numbers by std::to_chars) and written in chunks; a
// failed write cuts the file back to the last whole row that reached it, so a trace never ends in
// half a row.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "softplc/util/result.h"
#include "softplc/util/value_type.h"

namespace softplc {

class TraceWriter {
 public:
  // Creates (or truncates) the file and writes the header row.
  static Result<TraceWriter> create(const std::filesystem::path& path, std::span<const std::string> columns);

  TraceWriter(TraceWriter&& other) noexcept;
  TraceWriter& operator=(TraceWriter&&) = delete;
  TraceWriter(const TraceWriter&) = delete;
  TraceWriter& operator=(const TraceWriter&) = delete;
  ~TraceWriter();

  // One row: begin it with the cycle's time, add one value (or an empty field) per column in order,
  // and end it. BOOL is written 0/1, INT and UINT as integers, REAL in the shortest form that reads
  // back to the same float, TIME as its tick count.
  void begin_row(int64_t timeNs);
  void add(ValueType type, const uint8_t* bytes);
  void add_empty();
  // Ends the row; the rows are written out in chunks, or now when `writeNow`.
  Status end_row(bool writeNow = false);

  // Writes what is buffered and closes the file; reports a write that failed on the way.
  Status close();

  const std::filesystem::path& path() const { return path_; }
  // The whole rows in the file so far (not counting the header).
  uint64_t rows_written() const { return rowsWritten_; }

 private:
  TraceWriter(std::FILE* file, std::filesystem::path path) : file_(file), path_(std::move(path)) {}
  Status flush();

  std::FILE* file_ = nullptr;
  std::filesystem::path path_;
  std::string buffer_;            // whole rows not yet written
  uint64_t rowsBuffered_ = 0;
  uint64_t rowsWritten_ = 0;
  uint64_t bytesWritten_ = 0;     // the header and the whole rows that reached the file
  bool failed_ = false;
};

// Nanoseconds as an exact decimal number of seconds into `out`; the end of what was written.
char* write_seconds(char* out, int64_t ns);

}  // namespace softplc
