#include "softplc/observe/trace_observer.h"

#include <cstring>

namespace softplc {

TraceObserver::TraceObserver(TraceWriter& writer, std::vector<const HeldVariable*> columns)
    : writer_(writer), columns_(std::move(columns)) {}

void TraceObserver::plan(const Plc& plc) {
  area_.assign(plc.data_size() + 8, 0);
  sources_.clear();
  for (const HeldVariable* held : columns_) {
    Source source;
    source.type = held->variable.type;
    if (held->lost) {
      source.from = From::Lost;
    } else if (held->reference.descriptor == plc.program() &&
               uint64_t{held->reference.offset} + held->variable.size() <= plc.data_size()) {
      source.from = From::Area;
      source.offset = held->reference.offset;
    } else {
      source.from = From::Read;
    }
    sources_.push_back(source);
  }
  planned_ = true;
}

// The held references and the data area are the new module's now.
void TraceObserver::module_changed(Engine&) { planned_ = false; }

void TraceObserver::after_cycle(Engine& engine, const CycleInfo& cycle) {
  if (failure_) return;
  const Plc& plc = engine.plc();
  if (!planned_) plan(plc);
  if (auto status = plc.read_area({area_.data(), plc.data_size()}); !status) {
    return fail(engine, status.error(), cycle.index);
  }
  writer_.begin_row(cycle.timeNs);
  for (std::size_t i = 0; i < sources_.size(); ++i) {
    const Source& source = sources_[i];
    if (source.from == From::Area) {
      writer_.add(i, source.type, area_.data() + source.offset);
    } else if (source.from == From::Lost) {
      writer_.add_empty(i);
    } else {
      const HeldVariable& held = *columns_[i];
      auto read = plc.read(held.reference, held.variable);
      if (!read) return fail(engine, read.error(), cycle.index);
      writer_.add(i, source.type, read->bytes.data());
    }
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
