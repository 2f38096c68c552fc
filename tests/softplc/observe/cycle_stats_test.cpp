// The cycle statistics with made-up cycles: percentiles from the histogram, min/mean/max, overruns,
// skipped deadlines and the mean period, over a whole run and over intervals.
#include <gtest/gtest.h>

#include <string>

#include "softplc/observe/cycle_stats.h"

namespace {

using softplc::CycleStats;
using softplc::Distribution;
using softplc::LatencyHistogram;

constexpr int64_t kUs = 1000;
constexpr int64_t kMs = 1000 * kUs;

TEST(CycleStats, P99OfAThousandEvenlySpreadSamples) {
  // 1, 2, ..., 1000 us in shuffled order: the 99th percentile is the 990th smallest, 990 us; the
  // histogram may report up to 1/64 above it, never below.
  Distribution d;
  for (int64_t i = 0; i < 1000; ++i) d.add(((i * 617) % 1000 + 1) * kUs);
  const auto s = d.summary();
  EXPECT_EQ(s.count, 1000u);
  EXPECT_EQ(s.min, 1 * kUs);
  EXPECT_EQ(s.max, 1000 * kUs);
  EXPECT_DOUBLE_EQ(s.mean, 500.5 * kUs);
  EXPECT_GE(s.p99, 990 * kUs);
  EXPECT_LE(s.p99, 990 * kUs + 990 * kUs / 64);
  EXPECT_GE(s.p999, 999 * kUs);   // the 999th smallest
  EXPECT_LE(s.p999, 1000 * kUs);  // and never above the largest
}

TEST(CycleStats, SmallValuesAreExactAndOneOutlierDoesNotMoveP99) {
  // 99 samples of 100 ns and one of 5 ms: rank 99 of 100 is still 100 ns.
  Distribution d;
  for (int i = 0; i < 99; ++i) d.add(100);
  d.add(5 * kMs);
  EXPECT_EQ(d.summary().p99, 100);
  EXPECT_EQ(d.summary().max, 5 * kMs);
}

TEST(CycleStats, P99NeverExceedsTheLargestSampleEvenPastTheLastBucket) {
  Distribution d;
  d.add(int64_t{1} << 45);   // about 9.8 hours: beyond the histogram's own buckets
  EXPECT_EQ(d.summary().p99, int64_t{1} << 45);
  LatencyHistogram h;
  h.add(-50);   // a start before its deadline counts as 0 in the histogram
  EXPECT_EQ(h.quantile(0.99), 0);
  EXPECT_EQ(LatencyHistogram().quantile(0.99), 0);
}

TEST(CycleStats, OverrunsAreCyclesThatEndAfterTheNextDeadline) {
  CycleStats stats(10 * kMs);
  // deadline, start, execution, done
  stats.add({0, 50 * kUs, 20 * kUs, 80 * kUs});
  stats.add({10 * kMs, 10 * kMs + 40 * kUs, 9 * kMs, 20 * kMs});            // done at the next deadline: kept
  stats.add({20 * kMs, 20 * kMs + 30 * kUs, 12 * kMs, 30 * kMs + 1});       // 1 ns late: overrun
  stats.add({40 * kMs, 40 * kMs + 10 * kUs, 25 * kMs, 65 * kMs});           // overrun
  stats.add_skipped(1);   // the deadline at 30 ms had no cycle
  EXPECT_EQ(stats.cycles(), 4u);
  EXPECT_EQ(stats.overruns(), 2u);
  EXPECT_EQ(stats.skipped(), 1u);
  EXPECT_FALSE(stats.period_kept());
  EXPECT_EQ(stats.jitter().min, 10 * kUs);
  EXPECT_EQ(stats.jitter().max, 50 * kUs);
  EXPECT_EQ(stats.execution().min, 20 * kUs);
  EXPECT_EQ(stats.execution().max, 25 * kMs);
  // Starts at 0.05, 10.04, 20.03 and 40.01 ms: three gaps over 39.96 ms.
  EXPECT_NEAR(stats.mean_period(), 13.32 * kMs, 1.0);

  const std::string report = softplc::format_stats(stats, "whole run", true);
  EXPECT_NE(report.find("cycle statistics, whole run: 4 cycles"), std::string::npos) << report;
  EXPECT_NE(report.find("period not kept: 2 overruns, 1 deadline skipped"), std::string::npos) << report;
  EXPECT_NE(report.find("(target 10ms)"), std::string::npos) << report;
}

TEST(CycleStats, ACycleHeldByTheDebuggerIsHeldTimeNotAnOverrun) {
  CycleStats stats(10 * kMs);
  // deadline, start, execution, done, held inside, held before, holds
  stats.add({0, 0, 20 * kUs, 30 * kUs});
  stats.add({10 * kMs, 10 * kMs, 20 * kUs, 510 * kMs, 500 * kMs, 0, 1});   // held 500 ms at a breakpoint
  stats.add({520 * kMs, 520 * kMs, 20 * kUs, 521 * kMs});                  // the schedule restarted
  stats.add({540 * kMs, 540 * kMs, 20 * kUs, 541 * kMs, 0, 10 * kMs, 1});  // held 10 ms before it
  EXPECT_EQ(stats.overruns(), 0u);
  EXPECT_EQ(stats.held(), 510 * kMs);
  EXPECT_EQ(stats.holds(), 2u);
  // 540 ms between the first and last starts, 510 ms of them held: 10 ms a period.
  EXPECT_NEAR(stats.mean_period(), 10 * kMs, 1.0);
  const std::string report = softplc::format_stats(stats, "whole run", true);
  EXPECT_NE(report.find("  held by the debugger: 2 stops, 510.0ms in all (not counted as overruns)\n"), std::string::npos)
      << report;
  EXPECT_NE(report.find("period kept"), std::string::npos) << report;
}

TEST(CycleStats, AnIntervalMeasuresItsPeriodFromThePreviousIntervalsLastStart) {
  CycleStats stats(10 * kMs);
  stats.add({0, 0, 1, 1});
  stats.add({10 * kMs, 10 * kMs, 1, 10 * kMs + 1});
  stats.restart();
  EXPECT_EQ(stats.cycles(), 0u);
  EXPECT_TRUE(stats.period_kept());
  stats.add({20 * kMs, 21 * kMs, 1, 21 * kMs + 1});   // 11 ms after the last start before the interval
  EXPECT_EQ(stats.mean_period(), 11.0 * kMs);
  EXPECT_EQ(stats.jitter().mean, 1.0 * kMs);
}

TEST(CycleStats, DurationsForPeople) {
  EXPECT_EQ(softplc::format_duration(812), "812ns");
  EXPECT_EQ(softplc::format_duration(41'230), "41.23us");
  EXPECT_EQ(softplc::format_duration(10'003'000), "10.00ms");
  EXPECT_EQ(softplc::format_duration(150'300), "150.3us");
  EXPECT_EQ(softplc::format_duration(1.5e9), "1.500s");
}

}  // namespace
