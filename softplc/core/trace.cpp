#include "softplc/core/trace.h"

#include "softplc/core/values.h"

namespace softplc {

Result<TraceWriter> TraceWriter::create(const std::filesystem::path& path, std::span<const std::string> columns) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (!file) return runtime_error("cannot create trace file " + path.string());
  TraceWriter writer(std::move(file), path, columns.size());
  writer.line_ = "time_s";
  for (const std::string& column : columns) writer.line_ += "," + column;
  writer.line_ += "\n";
  writer.file_ << writer.line_;
  if (auto status = writer.check(); !status) return status.error();
  return writer;
}

Status TraceWriter::write_row(int64_t timeNs, std::span<const std::string> values) {
  if (values.size() != columns_) return runtime_error("trace row has the wrong number of values");
  line_ = format_seconds(timeNs);
  for (const std::string& value : values) {
    line_ += ',';
    line_ += value;
  }
  line_ += '\n';
  file_ << line_;
  return check();
}

Status TraceWriter::close() {
  if (!file_.is_open()) return ok_status();
  file_.flush();
  auto status = check();
  file_.close();
  if (status && file_.fail()) return runtime_error("cannot write trace file " + path_.string());
  return status;
}

Status TraceWriter::check() {
  if (!file_) return runtime_error("cannot write trace file " + path_.string());
  return ok_status();
}

}  // namespace softplc
