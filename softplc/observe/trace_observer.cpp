#include "softplc/observe/trace_observer.h"

#include <cstring>

namespace softplc {

TraceObserver::TraceObserver(TraceWriter& writer, std::vector<const HeldVariable*> columns)
    : writer_(writer), columns_(std::move(columns)) {}

void TraceObserver::plan(const Engine& engine) {
  const Plc& plc = engine.plc();
  // A simulated clock may wait for a slow file; real time (or a paced run) must not.
  writer_.wait_for_room(!engine.realtime() && !engine.options().paced);
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
  if (failed_) return;
  const Plc& plc = engine.plc();
  if (!planned_) plan(engine);
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
  const Status closed = writer_.close();
  const std::string rows = "the file holds the " + std::to_string(writer_.rows_written()) + " whole rows written before";
  if (failed_) {
    keep(failed_->first.message + " (after cycle " + std::to_string(failed_->second) + "; " + rows + ")");
  } else if (!closed) {
    keep(closed.error().message + " (at the end of the run; " + rows + ")");
  }
}

void TraceObserver::keep(std::string what) {
  if (interrupted()) {
    cutShort_ = std::move(what);
  } else {
    failure_ = runtime_error(std::move(what));
  }
}

void TraceObserver::fail(Engine& engine, const Error& error, uint64_t cycle) {
  failed_.emplace(error, cycle);
  engine.request_stop();
}

}  // namespace softplc
