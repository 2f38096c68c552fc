// Writes one trace row after each cycle: the held variables read from one copy of the whole data
// area. A write that fails stops the run after that cycle; the failure, with its cycle, is kept
// for the report.
#pragma once

#include <array>
#include <optional>
#include <vector>

#include "softplc/engine/engine.h"
#include "softplc/observe/trace.h"

namespace softplc {

class TraceObserver : public CycleObserver {
 public:
  TraceObserver(TraceWriter& writer, std::vector<const HeldVariable*> columns);

  unsigned points() const override { return kAfterCycle; }
  void after_cycle(Engine& engine, const CycleInfo& cycle) override;

  // Flushes the rows still buffered; the first failure, if any, stays in failure().
  void close();
  // Whether column `i` took more than one value during the run.
  bool changed(std::size_t i) const { return i < changed_.size() && changed_[i]; }
  const std::optional<Error>& failure() const { return failure_; }

 private:
  void fail(Engine& engine, const Error& error, uint64_t cycle);
  void note(std::size_t column, const uint8_t* bytes, uint32_t size, bool firstRow);

  TraceWriter& writer_;
  std::vector<const HeldVariable*> columns_;
  std::vector<uint8_t> area_;
  std::vector<std::array<uint8_t, 8>> first_;   // each column's value in the first row
  std::vector<bool> changed_;
  std::optional<Error> failure_;
  int64_t writtenAt_ = 0;   // real time: the rows reach the file at least once a second
};

}  // namespace softplc
