#include "softplc/observe/trace_observer.h"

#include <cstring>

namespace softplc {

TraceObserver::TraceObserver(TraceWriter& writer, std::vector<const HeldVariable*> columns)
    : writer_(writer), columns_(std::move(columns)), changed_(columns_.size(), false) {}

void TraceObserver::note(std::size_t column, const uint8_t* bytes, uint32_t size, bool firstRow) {
  if (firstRow) {
    first_[column].fill(0);
    std::memcpy(first_[column].data(), bytes, size);
  } else if (!changed_[column] && std::memcmp(first_[column].data(), bytes, size) != 0) {
    changed_[column] = true;
  }
}

void TraceObserver::after_cycle(Engine& engine, const CycleInfo& cycle) {
  if (failure_) return;
  const Plc& plc = engine.plc();
  area_.resize(plc.data_size());
  if (auto status = plc.read_area(area_); !status) return fail(engine, status.error(), cycle.index);
  const bool firstRow = first_.empty();
  if (firstRow) first_.resize(columns_.size());
  writer_.begin_row(cycle.timeNs);
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    const HeldVariable& held = *columns_[i];
    const uint8_t* bytes = nullptr;
    Encoded value;
    if (held.lost) {
      writer_.add_empty();
      continue;
    }
    if (held.reference.descriptor == plc.program() &&
        uint64_t{held.reference.offset} + held.variable.size() <= area_.size()) {
      bytes = area_.data() + held.reference.offset;
    } else {
      auto read = plc.read(held.reference, held.variable);
      if (!read) return fail(engine, read.error(), cycle.index);
      value = *read;
      bytes = value.bytes.data();
    }
    writer_.add(held.variable.type, bytes);
    note(i, bytes, held.variable.size(), firstRow);
  }
  const bool writeNow = engine.realtime() && cycle.timeNs - writtenAt_ >= 1'000'000'000;
  if (writeNow) writtenAt_ = cycle.timeNs;
  if (auto status = writer_.end_row(writeNow); !status) fail(engine, status.error(), cycle.index);
}

void TraceObserver::close() {
  if (auto status = writer_.close(); !status && !failure_) failure_ = status.error();
}

void TraceObserver::fail(Engine& engine, const Error& error, uint64_t cycle) {
  failure_ = runtime_error(error.message + " (after cycle " + std::to_string(cycle) + "; the file holds the " +
                           std::to_string(writer_.rows_written()) + " whole rows written before)");
  engine.request_stop();
}

}  // namespace softplc
