#include "softplc/observe/trace.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <system_error>
#include <utility>

#include "softplc/util/files.h"
#include "softplc/util/text.h"

namespace softplc {

namespace {

constexpr std::size_t kChunk = 64 * 1024;

std::string reason(int error) { return error != 0 ? std::string(": ") + std::strerror(error) : std::string(); }

// The nanoseconds of a second (below 10^9) as a decimal fraction: "" for 0, ".01" for 10^7.
char* write_fraction(char* out, uint32_t rest) {
  if (rest == 0) return out;
  int digits = 9;
  while (rest % 1000 == 0) {
    rest /= 1000;
    digits -= 3;
  }
  while (rest % 10 == 0) {
    rest /= 10;
    --digits;
  }
  *out = '.';
  for (int i = digits; i > 0; --i) {
    out[i] = static_cast<char>('0' + rest % 10);
    rest /= 10;
  }
  return out + digits + 1;
}

constexpr int64_t kNsPerSecond = 1'000'000'000;

}  // namespace

char* write_seconds(char* out, int64_t ns) {
  if (ns < 0) *out++ = '-';
  // The magnitude as unsigned, so that the smallest int64 has one too.
  const uint64_t magnitude = ns < 0 ? uint64_t{0} - static_cast<uint64_t>(ns) : static_cast<uint64_t>(ns);
  const uint64_t seconds = magnitude / kNsPerSecond;
  out = std::to_chars(out, out + 24, seconds).ptr;
  return write_fraction(out, static_cast<uint32_t>(magnitude - seconds * kNsPerSecond));
}

TraceWriter::TraceWriter(std::FILE* file, std::filesystem::path path, std::span<const std::string> columns)
    : file_(file), path_(std::move(path)), fields_(columns.size()) {
  std::string header = "time_s";
  for (const std::string& column : columns) header += "," + csv_field(column);
  header += '\n';
  // Room for the header, a chunk, one more row of the longest fields (the time, then a comma and
  // at most 21 characters per column, the line's end) and a field text's block copy beyond it.
  buffer_.resize(header.size() + kChunk + 32 + 24 * columns.size() + 1 + kFieldText);
  std::memcpy(buffer_.data(), header.data(), header.size());
  used_ = header.size();
}

Result<TraceWriter> TraceWriter::create(const std::filesystem::path& path, std::span<const std::string> columns) {
  errno = 0;
  std::FILE* file = open_file(path, "wb");
  if (file == nullptr) return runtime_error("cannot create trace file " + path.string() + reason(errno));
  // The rows are buffered here, and written in chunks: the stream needs no buffer of its own (which
  // it would allocate at its first write, in the middle of a run).
  std::setvbuf(file, nullptr, _IONBF, 0);
  return TraceWriter(file, path, columns);
}

TraceWriter::TraceWriter(TraceWriter&& other) noexcept
    : file_(std::exchange(other.file_, nullptr)),
      path_(std::move(other.path_)),
      buffer_(std::move(other.buffer_)),
      used_(other.used_),
      fields_(std::move(other.fields_)),
      secondStart_(other.secondStart_),
      secondLength_(other.secondLength_),
      rowsBuffered_(other.rowsBuffered_),
      rowsWritten_(other.rowsWritten_),
      bytesWritten_(other.bytesWritten_),
      failed_(other.failed_) {
  std::memcpy(secondText_, other.secondText_, sizeof secondText_);
}

TraceWriter::~TraceWriter() {
  if (file_ != nullptr) (void)close();
}

void TraceWriter::begin_row(int64_t timeNs) {
  if (timeNs < 0) {
    used_ = static_cast<std::size_t>(write_seconds(end(), timeNs) - buffer_.data());
    return;
  }
  // Within the whole second of the previous row only the fraction is new.
  if (secondStart_ < 0 || timeNs < secondStart_ || timeNs - secondStart_ >= kNsPerSecond) {
    secondStart_ = timeNs - timeNs % kNsPerSecond;
    secondLength_ = static_cast<uint8_t>(std::to_chars(secondText_, secondText_ + sizeof secondText_,
                                                       static_cast<uint64_t>(secondStart_ / kNsPerSecond))
                                             .ptr -
                                         secondText_);
  }
  char* out = end();
  std::memcpy(out, secondText_, sizeof secondText_);
  out = write_fraction(out + secondLength_, static_cast<uint32_t>(timeNs - secondStart_));
  used_ = static_cast<std::size_t>(out - buffer_.data());
}

void TraceWriter::format(Field& field, ValueType type, uint64_t value) {
  field.changed = field.changed || field.key != 0;
  field.key = static_cast<uint8_t>(static_cast<uint8_t>(type) + 1);
  field.value = value;
  char* text = field.text;
  char* const last = std::end(field.text);
  *text++ = ',';
  switch (type) {
    case ValueType::Bool: *text++ = value != 0 ? '1' : '0'; break;
    case ValueType::Int: text = std::to_chars(text, last, static_cast<int16_t>(value)).ptr; break;
    case ValueType::Uint: text = std::to_chars(text, last, static_cast<uint16_t>(value)).ptr; break;
    case ValueType::Real: {
      float real;
      const auto word = static_cast<uint32_t>(value);
      std::memcpy(&real, &word, sizeof real);
      text = std::to_chars(text, last, real).ptr;
      break;
    }
    case ValueType::Time: text = std::to_chars(text, last, static_cast<int64_t>(value)).ptr; break;
  }
  field.length = static_cast<uint8_t>(text - field.text);
}

void TraceWriter::add_empty(std::size_t column) {
  fields_[column].key = 0;
  buffer_[used_++] = ',';
}

Status TraceWriter::end_row(bool writeNow) {
  buffer_[used_++] = '\n';
  ++rowsBuffered_;
  if (writeNow || used_ >= kChunk) return flush();
  return ok_status();
}

Status TraceWriter::flush() {
  if (failed_) {
    used_ = 0;
    rowsBuffered_ = 0;
    return runtime_error("cannot write trace file " + path_.string());
  }
  errno = 0;
  const std::size_t written = used_ == 0 ? 0 : std::fwrite(buffer_.data(), 1, used_, file_);
  if (written == used_ && std::fflush(file_) == 0) {
    bytesWritten_ += used_;
    rowsWritten_ += rowsBuffered_;
    used_ = 0;
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
  used_ = 0;
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
