// The engine on a fake clock with a module made of the test's own functions: the points at which
// observers are told and their order, deadlines skipped in real time, a stop asked for at each
// point, and an online change made before the cycle it was asked for.
#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

#include "fake_module.h"

namespace softplc_test {
namespace {

constexpr int64_t kMs = 1'000'000;

struct Recorder : CycleObserver {
  Recorder(std::string name, unsigned wanted, std::vector<std::string>& log)
      : name(std::move(name)), wanted(wanted), log(log) {}
  unsigned points() const override { return wanted; }
  bool wants_execution_time() const override { return timing; }
  void before_cycle(Engine& engine, uint64_t index) override {
    say("before " + std::to_string(index));
    if (stopAt == kBeforeCycle && index == stopCycle) engine.request_stop();
  }
  void cycle_starting(Engine& engine, uint64_t index, int64_t timeNs) override {
    say("starting " + std::to_string(index) + " at " + std::to_string(timeNs / kMs));
    if (stopAt == kCycleStarting && index == stopCycle) engine.request_stop();
  }
  void after_cycle(Engine& engine, const CycleInfo& cycle) override {
    say("after " + std::to_string(cycle.index) + " due " + std::to_string(cycle.deadlineNs / kMs) +
                  " took " + std::to_string(cycle.executionNs / kMs));
    if (stopAt == kAfterCycle && cycle.index == stopCycle) engine.request_stop();
    if (signalAt && cycle.index == *signalAt) std::raise(SIGINT);
  }
  void deadlines_skipped(Engine&, uint64_t count) override { say("skipped " + std::to_string(count)); }
  void module_changed(Engine& engine) override {
    say("changed to " + engine.plc().module().name() + " before " + std::to_string(engine.cycles()));
  }

  void say(const std::string& text) { log.push_back(name.empty() ? text : name + " " + text); }

  std::string name;
  unsigned wanted;
  std::vector<std::string>& log;
  bool timing = false;
  unsigned stopAt = 0;
  uint64_t stopCycle = 0;
  std::optional<uint64_t> signalAt;
};

std::unique_ptr<Engine> engine_on(FakeRuntime*& runtime, ClockKind clock, int64_t cost, bool paced = false) {
  auto fake = std::make_unique<FakeRuntime>();
  fake->cost = cost;
  runtime = fake.get();
  EngineOptions options;
  options.clock = clock;
  options.deadlines.periodNs = 10 * kMs;
  options.paced = paced;
  auto engine = std::make_unique<Engine>(FakeModule<1>::attach(), options, fake_services(std::move(fake)));
  EXPECT_TRUE(engine->plc().initialise(0));
  EXPECT_TRUE(engine->start());
  return engine;
}

TEST(Engine, ObserversAreToldAtTheirPointsInTheOrderAdded) {
  for (const bool timing : {false, true}) {
    SCOPED_TRACE(timing);
    std::vector<std::string> log;
    Recorder all("A", kAllPoints, log), after("B", kAfterCycle, log);
    after.timing = timing;   // an execution time is measured only when an observer asks
    FakeRuntime* runtime = nullptr;
    auto engine = engine_on(runtime, ClockKind::Simulated, 3 * kMs);
    engine->observe(all);
    engine->observe(after);
    ASSERT_TRUE(engine->run({2, false}));
    const std::string took = timing ? "3" : "0";
    EXPECT_EQ(log, (std::vector<std::string>{"A before 0", "A starting 0 at 0", "A after 0 due 0 took " + took,
                                             "B after 0 due 0 took " + took, "A before 1", "A starting 1 at 10",
                                             "A after 1 due 10 took " + took, "B after 1 due 10 took " + took}));
    EXPECT_TRUE(runtime->waits.empty());   // a simulated clock that is not paced never waits
  }
}

TEST(Engine, RealTimeSkipsTheDeadlinesALateCycleMissedAndEndsWithTheLimitsLast) {
  const struct {
    int64_t cost;
    uint64_t deadlines;
    std::vector<std::string> log;
  } cases[] = {
      {0, 3, {"after 0 due 0", "after 1 due 10", "after 2 due 20"}},
      // A cycle of 25 ms: cycle 1 starts at 25 (due 20, deadline 10 skipped), cycle 2 at 50.
      {25 * kMs, 6, {"after 0 due 0", "skipped 1", "after 1 due 20", "skipped 2", "after 2 due 50"}},
      // The limit's last deadline (40) passed while cycle 1 ran: no cycle runs after it.
      {25 * kMs, 5, {"after 0 due 0", "skipped 1", "after 1 due 20", "skipped 2"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.deadlines);
    std::vector<std::string> log;
    Recorder recorder("", kAfterCycle | kDeadlinesSkipped, log);
    FakeRuntime* runtime = nullptr;
    auto engine = engine_on(runtime, ClockKind::RealTime, c.cost);
    engine->observe(recorder);
    ASSERT_TRUE(engine->run({c.deadlines, true}));
    for (std::string& line : log) line = line.substr(0, line.find(" took"));
    EXPECT_EQ(log, c.log);
  }
}

TEST(Engine, APacedSimulatedClockStartsAgainAfterAHold) {
  FakeRuntime* runtime = nullptr;
  auto engine = engine_on(runtime, ClockKind::Simulated, 0, /*paced=*/true);
  ASSERT_TRUE(engine->run({2, false}));
  runtime->now += 500 * kMs;   // a debugger held the program this long
  engine->restart_pace();
  ASSERT_TRUE(engine->run({4, false}));
  // Waited for on the steady clock: cycles 0 and 1 at their times, 2 at once after the hold, 3 a
  // period later (not back to back at 20 and 30).
  EXPECT_EQ(runtime->waits, (std::vector<int64_t>{0, 10 * kMs, 510 * kMs, 520 * kMs}));
}

TEST(Engine, AStopEndsTheRunAtTheNextPointThatLooksAtIt) {
  const struct {
    unsigned point;
    uint64_t cycle;
    uint64_t ran;
  } cases[] = {{kBeforeCycle, 2, 2}, {kCycleStarting, 1, 2}, {kAfterCycle, 2, 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.point);
    std::vector<std::string> log;
    Recorder stopper("", kAllPoints, log);
    stopper.stopAt = c.point;
    stopper.stopCycle = c.cycle;
    FakeRuntime* runtime = nullptr;
    auto engine = engine_on(runtime, ClockKind::Simulated, 0);
    engine->observe(stopper);
    ASSERT_TRUE(engine->run({10, false}));
    EXPECT_EQ(engine->cycles(), c.ran);
  }
  // A signal ends the run after the cycle in progress.
  std::vector<std::string> log;
  Recorder signaller("", kAfterCycle, log);
  signaller.signalAt = 1;
  FakeRuntime* runtime = nullptr;
  auto engine = engine_on(runtime, ClockKind::Simulated, 0);
  engine->observe(signaller);
  {
    InterruptGuard guard;
    ASSERT_TRUE(engine->run({10, false}));
    EXPECT_STREQ(interrupting_signal(), "SIGINT");
    clear_interruption();
  }
  EXPECT_EQ(engine->cycles(), 2u);
}

TEST(Engine, AnOnlineChangeIsMadeBeforeItsCycleAndTheHeldReferencesFollow) {
  std::vector<std::string> log;
  Recorder recorder("", kBeforeCycle | kModuleChanged, log);
  FakeRuntime* runtime = nullptr;
  auto engine = engine_on(runtime, ClockKind::Simulated, 0);
  engine->observe(recorder);
  const Symbols& names = *engine->plc().symbols();
  HeldVariable& count = engine->hold(*names.find("Count").value());
  HeldVariable& out = engine->hold(*names.find("Out").value());
  const auto request = engine->request_change("next.so", 3);
  ASSERT_TRUE(engine->run({5, false}));

  EXPECT_EQ(log, (std::vector<std::string>{"before 0", "before 1", "before 2", "changed to fake2 before 3", "before 3",
                                           "before 4"}));
  ASSERT_TRUE(request->outcome().has_value());
  EXPECT_EQ(request->describe(),
            "before cycle 3: online change from fake1 (layout 0x00000101) to fake2 (layout 0x00000102, fake), 2 "
            "references mapped\n  fake2 has no variable Out of the same type: it is no longer read\n");
  // Count went on from the old module's 3 by the new module's step of 2.
  EXPECT_EQ(count.reference.descriptor, &FakeModule<2>::descriptor);
  EXPECT_EQ(engine->plc().read(count.reference, count.variable).value().view()[0], 7);
  EXPECT_FALSE(count.lost);
  EXPECT_TRUE(out.lost);
}

}  // namespace
}  // namespace softplc_test
