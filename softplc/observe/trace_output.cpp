#include "softplc/observe/trace_output.h"

#include <algorithm>
#include <cstring>

#include "softplc/engine/interrupt.h"

namespace softplc {

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::chrono::milliseconds kLook{50};

std::string seconds_text(Clock::duration duration) {
  return std::to_string(std::chrono::duration_cast<std::chrono::seconds>(duration).count()) + " s";
}

// The piece of `bytes` that one write to a pipe takes: whole rows, at most `atomic` bytes of them
// (a pipe takes such a write whole or not at all); a row longer than that, alone.
std::size_t pipe_piece(const char* bytes, std::size_t size, std::size_t atomic) {
  if (size <= atomic) return size;
  for (std::size_t end = atomic; end > 0; --end)
    if (bytes[end - 1] == '\n') return end;
  const void* newline = std::memchr(bytes + atomic, '\n', size - atomic);
  return newline != nullptr ? static_cast<std::size_t>(static_cast<const char*>(newline) - bytes) + 1 : size;
}

}  // namespace

TraceOutput::TraceOutput(OutputFile file, std::filesystem::path path, std::size_t capacity, std::size_t chunks)
    : file_(std::move(file)),
      path_(std::move(path)),
      capacity_(capacity),
      storage_(capacity * chunks),
      sizes_(chunks),
      rows_(chunks) {
  thread_ = std::thread([this] { run(); });
}

TraceOutput::~TraceOutput() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  file_.cancel();
  handed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

uint64_t TraceOutput::rows_written() const {
  std::lock_guard lock(mutex_);
  return rowsWritten_;
}

std::string TraceOutput::stalled(Clock::duration waited) const {
  return "cannot write trace file " + path_.string() + ": " +
         (file_.is_pipe() ? "its reader took no rows for " : "nothing could be written for ") + seconds_text(waited) +
         ", with " + std::to_string(buffer_bytes() >> 20) + " MiB of rows waiting";
}

bool TraceOutput::wait_for_writer(std::unique_lock<std::mutex>& lock, bool (TraceOutput::*done)() const,
                                  bool mayWait, std::string& why) {
  if (!mayWait) {
    why = "cannot write trace file " + path_.string() + ": writing does not keep up, with " +
          std::to_string(buffer_bytes() >> 20) + " MiB of rows waiting";
    return false;
  }
  // Stalled is no progress for a while, counted from the start of the wait or the last progress.
  uint64_t written = bytesWritten_;
  Clock::time_point since = Clock::now();
  while (!(this->*done)() && !failure_) {
    ready_.wait_for(lock, kLook);
    const Clock::time_point now = Clock::now();
    if (bytesWritten_ != written) {
      written = bytesWritten_;
      since = now;
    }
    const Clock::duration limit = interrupted() ? Clock::duration(kStallAfterSignal) : Clock::duration(kStall);
    if (!(this->*done)() && !failure_ && now - since >= limit) {
      why = stalled(now - since);
      return false;
    }
  }
  return true;
}

Result<char*> TraceOutput::hand_over(std::size_t size, uint64_t rows, bool mayWait) {
  std::unique_lock lock(mutex_);
  if (!ring_has_room() && !failure_) {
    std::string why;
    if (!wait_for_writer(lock, &TraceOutput::ring_has_room, mayWait, why)) return runtime_error(why);
  }
  if (failure_) return *failure_;
  sizes_[current_] = size;
  rows_[current_] = rows;
  ++filled_;
  lock.unlock();
  handed_.notify_one();
  current_ = (current_ + 1) % sizes_.size();
  return chunk(current_);
}

Status TraceOutput::finish(bool drain) {
  std::unique_lock lock(mutex_);
  std::string why;
  const bool drained = !drain || failure_ || wait_for_writer(lock, &TraceOutput::all_written, true, why);
  stopping_ = true;
  std::optional<Error> failure = failure_;
  lock.unlock();
  file_.cancel();
  handed_.notify_all();
  if (thread_.joinable()) thread_.join();
  auto closed = file_.close();
  if (failure) return *failure;
  if (!drained) return runtime_error(why);
  if (!closed) return runtime_error("cannot write trace file " + path_.string() + ": " + closed.error().message);
  return ok_status();
}

void TraceOutput::run() {
  // A FIFO whose reader is gone fails the write (EPIPE) instead of ending the process.
  OutputFile::set_up_writer_thread();
  for (;;) {
    std::size_t index = 0;
    {
      std::unique_lock lock(mutex_);
      handed_.wait(lock, [&] { return filled_ > 0 || stopping_; });
      if (stopping_) return;
      index = head_;
    }
    if (!write_chunk(index)) return;
    {
      std::lock_guard lock(mutex_);
      head_ = (head_ + 1) % sizes_.size();
      --filled_;
    }
    ready_.notify_all();
  }
}

bool TraceOutput::write_chunk(std::size_t index) {
  const char* bytes = chunk(index);
  const std::size_t size = sizes_[index];
  const uint64_t rows = rows_[index];
  const std::size_t atomic = file_.is_pipe() ? OutputFile::atomic_bytes() : 0;
  for (std::size_t done = 0; done < size;) {
    const std::size_t piece = atomic != 0 ? pipe_piece(bytes + done, size - done, atomic) : size - done;
    const OutputFile::Written written = file_.write({bytes + done, piece});
    if (written.cancelled) return false;
    if (written.error != 0) {
      std::lock_guard lock(mutex_);
      // A regular file is cut back to the whole rows that reached it.
      file_.truncate(bytesWritten_);
      failure_ = runtime_error("cannot write trace file " + path_.string() + ": " + system_reason(written.error));
      ready_.notify_all();
      return false;
    }
    std::lock_guard lock(mutex_);
    bytesWritten_ += piece;
    // A chunk of rows holds whole rows only (the header's chunk counts none); a pipe's piece holds
    // as many as it has line ends.
    if (piece == size) {
      rowsWritten_ += rows;
    } else if (rows != 0) {
      rowsWritten_ += static_cast<uint64_t>(std::count(bytes + done, bytes + done + piece, '\n'));
    }
    done += piece;
  }
  return true;
}

}  // namespace softplc
