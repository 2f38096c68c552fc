#include "softplc/observe/cycle_stats.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>

#include "softplc/util/text.h"

namespace softplc {

// ---- histogram ------------------------------------------------------------------------------
// Below 2^kSubBits every value has its own bucket. Above, a value with its highest bit at e is
// kept by its top kSubBits + 1 bits: row e - kSubBits + 1, column (the bits below the top one).

std::size_t LatencyHistogram::index_of(uint64_t value) {
  constexpr uint64_t sub = uint64_t{1} << kSubBits;
  if (value < sub) return static_cast<std::size_t>(value);
  const int top = std::bit_width(value) - 1;
  if (top > kTopBit) return kBuckets - 1;
  const uint64_t mantissa = value >> (top - kSubBits);   // in [sub, 2 sub)
  return static_cast<std::size_t>(top - kSubBits + 1) * sub + static_cast<std::size_t>(mantissa - sub);
}

uint64_t LatencyHistogram::upper_of(std::size_t index) {
  constexpr uint64_t sub = uint64_t{1} << kSubBits;
  if (index < sub) return index;
  const std::size_t row = index / sub;   // >= 1
  const uint64_t mantissa = index % sub + sub;
  const int shift = static_cast<int>(row) - 1;
  return ((mantissa + 1) << shift) - 1;
}

void LatencyHistogram::add(int64_t ns) {
  ++counts_[index_of(ns < 0 ? 0 : static_cast<uint64_t>(ns))];
  ++count_;
}

void LatencyHistogram::clear() {
  counts_.fill(0);
  count_ = 0;
}

int64_t LatencyHistogram::quantile(double q) const {
  if (count_ == 0) return 0;
  q = std::clamp(q, 0.0, 1.0);
  const uint64_t rank = std::max<uint64_t>(1, static_cast<uint64_t>(std::ceil(q * static_cast<double>(count_))));
  uint64_t seen = 0;
  for (std::size_t i = 0; i < kBuckets; ++i) {
    seen += counts_[i];
    if (seen >= rank) return static_cast<int64_t>(upper_of(i));
  }
  return static_cast<int64_t>(upper_of(kBuckets - 1));
}

// ---- distribution -----------------------------------------------------------------------------

void Distribution::add(int64_t ns) {
  if (count_ == 0) {
    min_ = max_ = ns;
  } else {
    min_ = std::min(min_, ns);
    max_ = std::max(max_, ns);
  }
  ++count_;
  sum_ += static_cast<long double>(ns);
  histogram_.add(ns);
}

void Distribution::clear() { *this = Distribution(); }

DurationSummary Distribution::summary() const {
  DurationSummary s;
  s.count = count_;
  if (count_ == 0) return s;
  s.min = min_;
  s.max = max_;
  s.mean = static_cast<double>(sum_ / static_cast<long double>(count_));
  // The bucket's upper end may lie past the largest sample; the largest sample is the better bound.
  s.p99 = std::clamp(histogram_.quantile(0.99), min_, max_);
  s.p999 = std::clamp(histogram_.quantile(0.999), min_, max_);
  return s;
}

// ---- cycle statistics -------------------------------------------------------------------------

void CycleStats::add(const CycleTiming& cycle) {
  // The hold before the interval's first cycle lies before its first start.
  if (cycles_ != 0 || hasReference_) heldBetween_ += cycle.heldBefore;
  if (cycles_ != 0 || hasReference_) heldBetween_ += pendingHeld_;
  pendingHeld_ = cycle.held;
  if (cycles_ == 0) firstStart_ = cycle.start;
  lastStart_ = cycle.start;
  ++cycles_;
  execution_.add(cycle.execution);
  jitter_.add(cycle.start - cycle.deadline);
  if (cycle.done - cycle.held > cycle.deadline + periodNs_) ++overruns_;
  held_ += cycle.held + cycle.heldBefore;
  holds_ += cycle.holds;
}

void CycleStats::restart() {
  const bool had = cycles_ != 0 || hasReference_;
  const int64_t last = cycles_ != 0 ? lastStart_ : reference_;
  const int64_t pending = pendingHeld_;
  *this = CycleStats(periodNs_);
  pendingHeld_ = pending;
  hasReference_ = had;
  reference_ = last;
  lastStart_ = last;
}

double CycleStats::mean_period() const {
  // The time the debugger held the program between the starts is no part of a period.
  const auto between = static_cast<double>(heldBetween_);
  if (hasReference_) {
    return cycles_ == 0 ? 0.0 : (static_cast<double>(lastStart_ - reference_) - between) / static_cast<double>(cycles_);
  }
  return cycles_ < 2 ? 0.0 : (static_cast<double>(lastStart_ - firstStart_) - between) / static_cast<double>(cycles_ - 1);
}

// ---- report -----------------------------------------------------------------------------------

namespace {

std::string format_with(double ns, int digits, bool trim) {
  struct Unit {
    double size;
    const char* name;
  };
  static constexpr Unit units[] = {{1e9, "s"}, {1e6, "ms"}, {1e3, "us"}, {1.0, "ns"}};
  const double magnitude = std::fabs(ns);
  const Unit* unit = &units[3];
  for (const Unit& u : units) {
    if (magnitude >= u.size) {
      unit = &u;
      break;
    }
  }
  const double value = ns / unit->size;
  int decimals = 0;
  if (unit->size > 1.0) {
    const int whole = std::fabs(value) < 10 ? 1 : std::fabs(value) < 100 ? 2 : 3;
    decimals = std::max(0, digits - whole);
  }
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
  std::string text = buffer;
  if (trim && text.find('.') != std::string::npos) {
    while (text.back() == '0') text.pop_back();
    if (text.back() == '.') text.pop_back();
  }
  return text + unit->name;
}

std::string summary_line(const char* label, const DurationSummary& s) {
  std::string line = std::string("  ") + label;
  line += "min " + format_duration(static_cast<double>(s.min));
  line += "  mean " + format_duration(s.mean);
  line += "  p99 " + format_duration(static_cast<double>(s.p99));
  line += "  p99.9 " + format_duration(static_cast<double>(s.p999));
  line += "  max " + format_duration(static_cast<double>(s.max));
  return line + "\n";
}

}  // namespace

std::string format_duration(double ns) { return format_with(ns, 4, false); }

std::string format_setting(double ns) { return format_with(ns, 6, true); }

std::string format_stats(const CycleStats& stats, const std::string& title, bool realtime) {
  const std::string target = format_with(static_cast<double>(stats.period()), 6, true);
  std::string text = "cycle statistics, " + title + ": " + plural(stats.cycles(), "cycle", "cycles");
  if (realtime) {
    text += " in " + format_with(static_cast<double>(stats.last_start() - stats.first_start()), 4, false) +
            ", real-time, period " + target + "\n";
  } else {
    text += ", simulated clock\n";
  }
  if (stats.cycles() == 0) return text;
  text += summary_line("execution time  ", stats.execution());
  const std::string held = stats.holds() == 0 ? std::string()
                                               : "  held by the debugger: " + plural(stats.holds(), "stop", "stops") +
                                                     ", " + format_duration(static_cast<double>(stats.held())) +
                                                     " in all" + (realtime ? " (not counted as overruns)" : "") + "\n";
  if (!realtime) return text + held;
  text += summary_line("start jitter    ", stats.jitter());
  const double period = stats.mean_period();
  text += "  mean period     " + (period > 0 ? format_with(period, 6, false) : std::string("-")) + " (target " +
          target + ")\n";
  if (stats.period_kept()) {
    text += "  period kept: no overruns, no deadlines skipped\n";
  } else {
    text += "  period not kept: " + plural(stats.overruns(), "overrun", "overruns") + ", " +
            plural(stats.skipped(), "deadline skipped", "deadlines skipped") + "\n";
  }
  return text + held;
}

}  // namespace softplc
