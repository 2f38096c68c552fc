// The errors the cycles recorded in the runtime's error information: per code (the first one a
// cycle recorded), in how many cycles, and the first of them.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "softplc/engine/engine.h"

namespace softplc {

class ErrorTally : public CycleObserver {
 public:
  struct Entry {
    uint64_t cycles = 0;
    uint64_t firstCycle = 0;
    int64_t firstTimeNs = 0;
  };

  unsigned points() const override { return kAfterCycle; }
  void after_cycle(Engine& engine, const CycleInfo& cycle) override;

  const std::map<int32_t, Entry>& entries() const { return entries_; }
  // "error 140 (REAL division by zero) recorded in 1 cycle (first in cycle 0 at t=0s)", one line each.
  std::string report() const;

 private:
  std::map<int32_t, Entry> entries_;
};

// What an error code of the runtime's error information means: "REAL division by zero"; "" for a
// code we do not know.
std::string_view error_meaning(int32_t code);

// "error 140 (REAL division by zero)"
std::string error_text(int32_t code);

}  // namespace softplc
