// Cycle statistics of a run: execution time and start jitter (min, mean, p99, p99.9, max), overruns,
// skipped deadlines and the period achieved. Fixed memory however long the run: the percentiles
// come from a log-linear histogram, not from stored samples.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace softplc {

// A histogram of non-negative durations in nanoseconds with 64 buckets per power of two: a
// percentile is exact to within 1/64 (1.6 %) of its value. Values are exact below 64 ns; values
// of 2^41 ns (about 36 minutes) and more share the last bucket. Negative values count as 0.
class LatencyHistogram {
 public:
  void add(int64_t ns);
  void clear();
  uint64_t count() const { return count_; }
  // The upper end of the bucket that holds the sample of rank ceil(q × count) (q in (0, 1]), i.e.
  // a value that at least q of the samples do not exceed; 0 when empty.
  int64_t quantile(double q) const;

 private:
  static constexpr int kSubBits = 6;
  static constexpr int kTopBit = 40;   // the largest exponent with buckets of its own
  static constexpr std::size_t kBuckets = (kTopBit - kSubBits + 2) << kSubBits;

  static std::size_t index_of(uint64_t value);
  static uint64_t upper_of(std::size_t index);

  std::array<uint64_t, kBuckets> counts_{};
  uint64_t count_ = 0;
};

// Min, mean, p99, p99.9 and max of one kind of duration.
struct DurationSummary {
  uint64_t count = 0;
  int64_t min = 0;
  int64_t max = 0;
  double mean = 0.0;
  int64_t p99 = 0;    // never above max
  int64_t p999 = 0;   // the 99.9th percentile, never above max
};

class Distribution {
 public:
  void add(int64_t ns);
  void clear();
  DurationSummary summary() const;

 private:
  LatencyHistogram histogram_;
  uint64_t count_ = 0;
  int64_t min_ = 0;
  int64_t max_ = 0;
  long double sum_ = 0.0L;
};

// One cycle as the host timed it, in nanoseconds of the run's clock.
struct CycleTiming {
  int64_t deadline = 0;    // when the cycle was due
  int64_t start = 0;       // when it started (the time the cycle's timers read)
  int64_t execution = 0;   // how long the module's cycle call took
  int64_t done = 0;        // when the host was done with the cycle (trace row included)
  // A debugger's holds: inside the cycle (a stop in a hook: `done` is that much later) and before it
  // (between the previous cycle and this one), and the stops that made them.
  int64_t held = 0;
  int64_t heldBefore = 0;
  uint32_t holds = 0;
};

class CycleStats {
 public:
  explicit CycleStats(int64_t periodNs) : periodNs_(periodNs) {}

  // A cycle that ends after the next deadline (deadline + period), its hold left out, is an overrun.
  void add(const CycleTiming& cycle);
  // Deadlines that passed without a cycle of their own.
  void add_skipped(uint64_t deadlines) { skipped_ += deadlines; }
  // Starts a new interval: everything is cleared, but the last start is kept as the reference
  // from which the next interval's mean period is measured.
  void restart();

  int64_t period() const { return periodNs_; }
  uint64_t cycles() const { return cycles_; }
  uint64_t overruns() const { return overruns_; }
  uint64_t skipped() const { return skipped_; }
  // How long a debugger held the cycles, and the stops that held them.
  int64_t held() const { return held_; }
  uint64_t holds() const { return holds_; }
  DurationSummary execution() const { return execution_.summary(); }
  DurationSummary jitter() const { return jitter_.summary(); }
  // The mean distance between the starts of consecutive cycles; 0 with fewer than two starts.
  double mean_period() const;
  // The deadlines were met: no overrun and no skipped deadline.
  bool period_kept() const { return overruns_ == 0 && skipped_ == 0; }
  // The first start of the interval (or the reference start) and the last.
  int64_t first_start() const { return hasReference_ ? reference_ : firstStart_; }
  int64_t last_start() const { return lastStart_; }

 private:
  int64_t periodNs_;
  Distribution execution_;
  Distribution jitter_;
  uint64_t cycles_ = 0;
  uint64_t overruns_ = 0;
  uint64_t skipped_ = 0;
  int64_t held_ = 0;
  int64_t heldBetween_ = 0;   // held between the interval's first start and its last
  int64_t pendingHeld_ = 0;   // held inside the last cycle: between its start and the next one's
  uint64_t holds_ = 0;
  int64_t firstStart_ = 0;
  int64_t lastStart_ = 0;
  bool hasReference_ = false;
  int64_t reference_ = 0;
};

// A duration for people: "812ns", "41.2us", "10.003ms", "1.500s" (3 or 4 significant digits).
std::string format_duration(double ns);
// A setting's duration without trailing zeros: "10ms", "1.5s", "250us".
std::string format_setting(double ns);

// The report of an interval or a whole run, several lines ending in "\n":
//   cycle statistics, whole run: 6000 cycles in 59.99s, real-time, period 10ms
//     execution time  min 2.1us  mean 3.4us  p99 9.0us  p99.9 12.1us  max 15.2us
//     start jitter    min 52.1us  mean 61.0us  p99 98.3us  p99.9 120.5us  max 150.3us
//     mean period     10.000ms (target 10ms)
//     period kept: no overruns, no deadlines skipped
// A simulated run has no deadlines: only the first two lines. When a debugger held the cycles, one
// more line says how long: "  held by the debugger: 2 stops, 12.5s in all (not counted as overruns)".
std::string format_stats(const CycleStats& stats, const std::string& title, bool realtime);

}  // namespace softplc
