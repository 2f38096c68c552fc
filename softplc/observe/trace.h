// The trace file: CSV with a header row "time_s" and the traced variables' names, then one row per
// cycle. Lines end in "\n" on every platform, so that every platform writes the same bytes for the
// same run. Rows are built in chunks of a ring allocated once (numbers by std::to_chars), which a
// thread of its own writes out (trace_output.h): the cycle never waits for the file, and a trace
// never ends in half a row.
//
// Most variables keep their value from one cycle to the next: each column keeps the value of its
// previous row with its text, and an unchanged value is copied as text, not formatted again. The
// time column keeps the text of its whole seconds the same way.
#pragma once

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "softplc/observe/trace_output.h"
#include "softplc/util/result.h"
#include "softplc/util/value_type.h"

namespace softplc {

class TraceWriter {
 public:
  // Creates (or truncates) the file and writes the header row. A FIFO is opened once a program
  // reads it; a signal ends that wait (the error says so).
  static Result<TraceWriter> create(const std::filesystem::path& path, std::span<const std::string> columns);

  TraceWriter(TraceWriter&& other) noexcept = default;
  TraceWriter& operator=(TraceWriter&&) = delete;
  TraceWriter(const TraceWriter&) = delete;
  TraceWriter& operator=(const TraceWriter&) = delete;
  ~TraceWriter();

  // One row: begin it with the cycle's time, give every column in order its value (or an empty
  // field), and end it. BOOL is written 0/1, INT and UINT as integers, REAL in the shortest form
  // that reads back to the same float, TIME as its tick count.
  void begin_row(int64_t timeNs);
  // `bytes`: the value's bytes, followed by at least 8 - size_of(type) readable bytes (the
  // whole 8 are read at once).
  void add(std::size_t column, ValueType type, const uint8_t* bytes);
  void add_empty(std::size_t column);
  // Ends the row; the rows are handed to the writer in chunks, or now when `writeNow`. Fails when
  // a write failed, or when the writer is a whole ring of chunks behind (see wait_for_room).
  Status end_row(bool writeNow = false);
  // Whether a full ring waits for the writer's progress (a simulated clock may wait) or fails at
  // once (the default: real time must not wait).
  void wait_for_room(bool wait) { waitForRoom_ = wait; }

  // Writes what is buffered and closes the file; reports a write that failed on the way. After a
  // failure what is still buffered is dropped.
  Status close();

  // Whether the column's value changed from one row to the next at least once (bytewise).
  bool changed(std::size_t column) const { return column < fields_.size() && fields_[column].changed; }

  const std::filesystem::path& path() const { return path_; }
  // The whole rows in the file so far (not counting the header).
  uint64_t rows_written() const { return output_ != nullptr ? output_->rows_written() : 0; }

 private:
  // A field's text with its leading comma, at most kFieldText bytes; copied as one block.
  static constexpr std::size_t kFieldText = 32;
  struct Field {
    uint64_t value = 0;      // the bytes of the previous row's value, zero-extended
    uint8_t key = 0;         // its type + 1; 0: the previous row had no value here
    uint8_t length = 0;
    bool changed = false;
    char text[kFieldText];
  };
  static constexpr uint64_t kMask[] = {0xFF, 0xFFFF, 0xFFFF, 0xFFFF'FFFF, ~uint64_t{0}};   // by ValueType

  void format(Field& field, ValueType type, uint64_t value);
  TraceWriter(OutputFile file, std::filesystem::path path, std::span<const std::string> columns);
  Status hand_over(bool mayWait);
  char* end() { return buffer_ + used_; }

  std::filesystem::path path_;
  std::unique_ptr<TraceOutput> output_;
  char* buffer_ = nullptr;        // the chunk being filled: whole rows, then room for one more row
  std::size_t used_ = 0;
  std::vector<Field> fields_;
  int64_t secondStart_ = -1;      // the time column: the whole second whose text is kept (-1: none)
  char secondText_[24];
  uint8_t secondLength_ = 0;
  uint64_t rowsBuffered_ = 0;     // in the chunk being filled
  bool waitForRoom_ = false;
  bool failed_ = false;
  bool closed_ = false;
};

inline void TraceWriter::add(std::size_t column, ValueType type, const uint8_t* bytes) {
  uint64_t value;
  std::memcpy(&value, bytes, sizeof value);
  value &= kMask[static_cast<uint8_t>(type)];
  Field& field = fields_[column];
  if (field.key != static_cast<uint8_t>(type) + 1 || field.value != value) format(field, type, value);
  std::memcpy(end(), field.text, kFieldText);
  used_ += field.length;
}

// Nanoseconds as an exact decimal number of seconds into `out`; the end of what was written.
char* write_seconds(char* out, int64_t ns);

}  // namespace softplc
