// Writes one trace row after each cycle: the held variables read from one copy of the whole data
// area. A write that fails (or a file that falls too far behind) stops the run after that cycle;
// the failure, with its cycle, is kept for the report. When a signal ended the run, a trace that
// could not be completed is a note, not a failure: the run was asked to end.
#pragma once

#include <optional>
#include <vector>

#include "softplc/engine/engine.h"
#include "softplc/observe/trace.h"

namespace softplc {

class TraceObserver : public CycleObserver {
 public:
  TraceObserver(TraceWriter& writer, std::vector<const HeldVariable*> columns);

  unsigned points() const override { return kAfterCycle | kModuleChanged; }
  void after_cycle(Engine& engine, const CycleInfo& cycle) override;
  void module_changed(Engine& engine) override;

  // Writes the rows still buffered; the first failure, if any, stays in failure().
  void close();
  // Whether column `i` took more than one value during the run.
  bool changed(std::size_t i) const { return writer_.changed(i); }
  const std::optional<Error>& failure() const { return failure_; }
  // A trace a signal kept from being completed: what happened, with the rows the file holds.
  const std::optional<std::string>& cut_short() const { return cutShort_; }

 private:
  // Where each column's value comes from, worked out once per module.
  enum class From : uint8_t { Area, Read, Lost };
  struct Source {
    uint32_t offset = 0;   // From::Area: in the copy of the data area
    ValueType type = ValueType::Bool;
    From from = From::Lost;
  };
  void plan(const Engine& engine);
  void fail(Engine& engine, const Error& error, uint64_t cycle);
  void keep(std::string what);

  TraceWriter& writer_;
  std::vector<const HeldVariable*> columns_;
  std::vector<Source> sources_;
  bool planned_ = false;
  std::vector<uint8_t> area_;     // the data area, and 8 bytes more (TraceWriter::add reads 8)
  std::optional<Error> failure_;
  std::optional<std::string> cutShort_;
  // The first failure and its cycle; the report says how many rows the file holds at the end.
  std::optional<std::pair<Error, uint64_t>> failed_;
  // Real time: the rows reach the file at least once a second, the first one at once.
  int64_t writtenAt_ = -1'000'000'000;
};

}  // namespace softplc
