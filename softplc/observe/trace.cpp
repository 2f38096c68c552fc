#include "softplc/observe/trace.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <system_error>
#include <utility>

namespace softplc {

namespace {

constexpr std::size_t kChunk = 64 * 1024;

std::string reason(int error) { return error != 0 ? std::string(": ") + std::strerror(error) : std::string(); }

std::FILE* open_for_writing(const std::filesystem::path& path) {
#if defined(_WIN32)
  return _wfopen(path.c_str(), L"wb");
#else
  return std::fopen(path.c_str(), "wb");
#endif
}

}  // namespace

char* write_seconds(char* out, int64_t ns) {
  constexpr uint64_t kNsPerSecond = 1'000'000'000;
  if (ns < 0) *out++ = '-';
  const uint64_t magnitude = ns < 0 ? uint64_t{0} - static_cast<uint64_t>(ns) : static_cast<uint64_t>(ns);
  out = std::to_chars(out, out + 24, magnitude / kNsPerSecond).ptr;
  uint64_t rest = magnitude % kNsPerSecond;
  if (rest != 0) {
    *out++ = '.';
    for (uint64_t unit = kNsPerSecond / 10; rest != 0; unit /= 10) {
      *out++ = static_cast<char>('0' + rest / unit);
      rest %= unit;
    }
  }
  return out;
}

Result<TraceWriter> TraceWriter::create(const std::filesystem::path& path, std::span<const std::string> columns) {
  errno = 0;
  std::FILE* file = open_for_writing(path);
  if (file == nullptr) return runtime_error("cannot create trace file " + path.string() + reason(errno));
  TraceWriter writer(file, path);
  writer.buffer_.reserve(kChunk + 4096);
  writer.buffer_ = "time_s";
  for (const std::string& column : columns) writer.buffer_ += "," + column;
  writer.buffer_ += '\n';
  return writer;
}

TraceWriter::TraceWriter(TraceWriter&& other) noexcept
    : file_(std::exchange(other.file_, nullptr)),
      path_(std::move(other.path_)),
      buffer_(std::move(other.buffer_)),
      rowsBuffered_(other.rowsBuffered_),
      rowsWritten_(other.rowsWritten_),
      bytesWritten_(other.bytesWritten_),
      failed_(other.failed_) {}

TraceWriter::~TraceWriter() {
  if (file_ != nullptr) (void)close();
}

void TraceWriter::begin_row(int64_t timeNs) {
  char text[32];
  buffer_.append(text, write_seconds(text, timeNs));
}

void TraceWriter::add(ValueType type, const uint8_t* bytes) {
  char text[48];
  char* end = text;
  *end++ = ',';
  switch (type) {
    case ValueType::Bool: *end++ = bytes[0] != 0 ? '1' : '0'; break;
    case ValueType::Int: {
      int16_t value;
      std::memcpy(&value, bytes, sizeof value);
      end = std::to_chars(end, text + sizeof text, value).ptr;
      break;
    }
    case ValueType::Uint: {
      uint16_t value;
      std::memcpy(&value, bytes, sizeof value);
      end = std::to_chars(end, text + sizeof text, value).ptr;
      break;
    }
    case ValueType::Real: {
      float value;
      std::memcpy(&value, bytes, sizeof value);
      end = std::to_chars(end, text + sizeof text, value).ptr;
      break;
    }
    case ValueType::Time: {
      int64_t value;
      std::memcpy(&value, bytes, sizeof value);
      end = std::to_chars(end, text + sizeof text, value).ptr;
      break;
    }
  }
  buffer_.append(text, end);
}

void TraceWriter::add_empty() { buffer_ += ','; }

Status TraceWriter::end_row(bool writeNow) {
  buffer_ += '\n';
  ++rowsBuffered_;
  if (writeNow || buffer_.size() >= kChunk) return flush();
  return ok_status();
}

Status TraceWriter::flush() {
  if (failed_) {
    buffer_.clear();
    rowsBuffered_ = 0;
    return runtime_error("cannot write trace file " + path_.string());
  }
  if (buffer_.empty()) return ok_status();
  errno = 0;
  const std::size_t written = std::fwrite(buffer_.data(), 1, buffer_.size(), file_);
  if (written == buffer_.size() && std::fflush(file_) == 0) {
    bytesWritten_ += buffer_.size();
    rowsWritten_ += rowsBuffered_;
    buffer_.clear();
    rowsBuffered_ = 0;
    return ok_status();
  }
  const int error = errno;
  failed_ = true;
  // Cut the file back to the whole rows that reached it before this chunk.
  std::fclose(file_);
  file_ = nullptr;
  std::error_code ec;
  std::filesystem::resize_file(path_, bytesWritten_, ec);
  buffer_.clear();
  rowsBuffered_ = 0;
  return runtime_error("cannot write trace file " + path_.string() + reason(error));
}

Status TraceWriter::close() {
  if (file_ == nullptr) return failed_ ? runtime_error("cannot write trace file " + path_.string()) : ok_status();
  Status status = flush();
  if (file_ != nullptr) {
    errno = 0;
    if (std::fclose(file_) != 0 && status) status = runtime_error("cannot write trace file " + path_.string() + reason(errno));
    file_ = nullptr;
  }
  return status;
}

}  // namespace softplc
