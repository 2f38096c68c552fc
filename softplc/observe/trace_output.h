// The trace's way to its file: a ring of chunks allocated once, which the cycle thread fills with
// whole rows one chunk at a time and hands over, and a thread of its own that writes the handed
// chunks out in order. The cycle thread never waits for the file: a file (or a FIFO's reader) that
// falls behind by the whole ring ends the trace with the reason, as a failed write does.
//
// What reaches the file is whole rows: a failed write to a regular file is cut back to the last
// whole row that reached it, and a FIFO gets its rows in writes that reach the reader whole or not
// at all (atomic pipe writes, cut at the rows' ends).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "softplc/util/files.h"
#include "softplc/util/result.h"

namespace softplc {

class TraceOutput {
 public:
  // How long a full ring (or the end of the run) waits for a file that takes nothing: after this
  // the file or its reader counts as stalled. A signal cuts the wait at the end of a run to
  // kStallAfterSignal.
  static constexpr std::chrono::seconds kStall{5};
  static constexpr std::chrono::seconds kStallAfterSignal{1};

  // `chunks` chunks of `capacity` bytes each; the writer thread starts at once.
  TraceOutput(OutputFile file, std::filesystem::path path, std::size_t capacity, std::size_t chunks);
  // Ends the writer thread, abandoning what it has not written.
  ~TraceOutput();
  TraceOutput(const TraceOutput&) = delete;
  TraceOutput& operator=(const TraceOutput&) = delete;

  // ---- the cycle thread ----
  // The chunk to fill first.
  char* first_chunk() { return chunk(0); }
  // Hands over the chunk being filled (`size` bytes holding `rows` whole rows; 0 rows: the header)
  // and gives the next chunk to fill. When every other chunk still waits to be written: with
  // `mayWait`, waits while the writer makes progress (not past a signal, nor kStall without
  // progress), otherwise fails at once. A failed write of the writer thread fails here too. The
  // error says why, naming the file.
  Result<char*> hand_over(std::size_t size, uint64_t rows, bool mayWait);
  // With `drain`, waits until everything handed over is written (while the writer makes progress);
  // then ends the writer, abandoning what it has not written, and closes the file.
  Status finish(bool drain);

  // ---- any thread ----
  // The whole rows that reached the file so far.
  uint64_t rows_written() const;
  std::size_t buffer_bytes() const { return capacity_ * sizes_.size(); }

 private:
  char* chunk(std::size_t index) { return storage_.data() + index * capacity_; }
  void run();
  bool write_chunk(std::size_t index);
  // Waits on `ready_` until `done` holds; false when the writer stalled (the reason in `why`).
  bool wait_for_writer(std::unique_lock<std::mutex>& lock, bool (TraceOutput::*done)() const, bool mayWait,
                       std::string& why);
  bool ring_has_room() const { return filled_ + 2 <= sizes_.size(); }
  bool all_written() const { return filled_ == 0; }
  std::string stalled(std::chrono::steady_clock::duration waited) const;

  OutputFile file_;
  std::filesystem::path path_;
  std::size_t capacity_;
  std::vector<char> storage_;          // the chunks, one after another
  std::vector<std::size_t> sizes_;     // the bytes of each handed chunk
  std::vector<uint64_t> rows_;         // and its rows
  std::size_t current_ = 0;            // the chunk being filled (cycle thread)

  mutable std::mutex mutex_;
  std::condition_variable handed_;     // to the writer: a chunk was handed over, or stop
  std::condition_variable ready_;      // to the cycle thread: a chunk was written, or the writer failed
  std::size_t head_ = 0;               // the oldest handed chunk
  std::size_t filled_ = 0;             // chunks handed and not yet written
  bool stopping_ = false;
  std::optional<Error> failure_;       // the writer's
  uint64_t bytesWritten_ = 0;
  uint64_t rowsWritten_ = 0;
  std::thread thread_;
};

}  // namespace softplc
