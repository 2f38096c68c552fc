#include "softplc/observe/trace.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <system_error>
#include <utility>

#include "softplc/engine/interrupt.h"
#include "softplc/util/files.h"
#include "softplc/util/text.h"

namespace softplc {

namespace {

// Rows are handed to the writer in chunks of this size (or once a second in real time); the ring
// holds this many chunks: 4 MiB, minutes of rows at the usual periods.
constexpr std::size_t kChunk = 64 * 1024;
constexpr std::size_t kChunks = 64;

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

TraceWriter::TraceWriter(OutputFile file, std::filesystem::path path, std::span<const std::string> columns)
    : path_(std::move(path)), fields_(columns.size()) {
  std::string header = "time_s";
  for (const std::string& column : columns) header += "," + csv_field(column);
  header += '\n';
  // Each chunk has room for the header, a chunk, one more row of the longest fields (the time, then
  // a comma and at most 21 characters per column, the line's end) and a field text's block copy
  // beyond it.
  const std::size_t capacity = header.size() + kChunk + 32 + 24 * columns.size() + 1 + kFieldText;
  output_ = std::make_unique<TraceOutput>(std::move(file), path_, capacity, kChunks);
  buffer_ = output_->first_chunk();
  std::memcpy(buffer_, header.data(), header.size());
  used_ = header.size();
  // The header goes out at once, as a chunk of its own.
  (void)hand_over(false);
}

Result<TraceWriter> TraceWriter::create(const std::filesystem::path& path, std::span<const std::string> columns) {
  auto file = OutputFile::create(path, [] { return !interrupted(); });
  if (!file) {
    return runtime_error("cannot create trace file " + path.string() + ": " + file.error().message);
  }
  return TraceWriter(std::move(file).value(), path, columns);
}

TraceWriter::~TraceWriter() {
  if (output_ != nullptr && !closed_) (void)close();
}

void TraceWriter::begin_row(int64_t timeNs) {
  if (timeNs < 0) {
    used_ = static_cast<std::size_t>(write_seconds(end(), timeNs) - buffer_);
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
  used_ = static_cast<std::size_t>(out - buffer_);
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
  if (writeNow || used_ >= kChunk) return hand_over(waitForRoom_);
  return ok_status();
}

Status TraceWriter::hand_over(bool mayWait) {
  if (failed_) {
    used_ = 0;
    rowsBuffered_ = 0;
    return runtime_error("cannot write trace file " + path_.string());
  }
  auto next = output_->hand_over(used_, rowsBuffered_, mayWait);
  if (!next) {
    // The rows of this chunk will not be written: the trace ends with the rows handed before.
    failed_ = true;
    used_ = 0;
    rowsBuffered_ = 0;
    return next.error();
  }
  buffer_ = *next;
  used_ = 0;
  rowsBuffered_ = 0;
  return ok_status();
}

Status TraceWriter::close() {
  if (closed_ || output_ == nullptr) return failed_ ? runtime_error("cannot write trace file " + path_.string()) : ok_status();
  closed_ = true;
  Status status = ok_status();
  if (!failed_ && used_ > 0) status = hand_over(true);
  // After a failure nothing more is wanted in the file.
  Status finished = output_->finish(/*drain=*/!failed_);
  failed_ = failed_ || !finished;
  return !status ? status : finished;
}

}  // namespace softplc
