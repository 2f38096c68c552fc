// The exchange between the cycles and the live channels, on the engine with a module made of the
// test's own functions: a snapshot after every cycle, requests applied between two cycles in the
// order they came, a group written whole or not at all, a force renewed after the program wrote
// its variable.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "fake_module.h"
#include "softplc/live/exchange.h"

namespace softplc_test {
namespace {

constexpr int64_t kMs = 1'000'000;

struct Live {
  Live() {
    EngineOptions options;
    options.deadlines.periodNs = 10 * kMs;
    engine = std::make_unique<Engine>(FakeModule<1>::attach(), options, fake_services(std::make_unique<FakeRuntime>()));
    EXPECT_TRUE(engine->plc().initialise(0));
    exchange.emplace(*engine);
    engine->observe(*exchange);
    EXPECT_TRUE(engine->start());
    exchange->publish_initial();
  }
  Variable named(const char* name) const { return *engine->plc().symbols()->find(name).value(); }
  static Encoded value(int16_t v) {
    Encoded e;
    e.size = 2;
    std::memcpy(e.bytes.data(), &v, 2);
    return e;
  }
  int16_t latest(uint32_t offset) const {
    int16_t v;
    std::memcpy(&v, exchange->latest()->data.data() + offset, 2);
    return v;
  }
  void cycle() { ASSERT_TRUE(engine->run_cycle().value()); }

  std::unique_ptr<Engine> engine;
  std::optional<Exchange> exchange;
};

TEST(Exchange, EachCycleIsPublishedWholeAfterItRan) {
  Live live;
  EXPECT_EQ(live.exchange->latest()->cycles, 0u);   // the one taken after initialisation
  for (uint64_t k = 1; k <= 3; ++k) {
    live.cycle();
    const auto snapshot = live.exchange->wait_after(k - 1, std::chrono::milliseconds(0));
    EXPECT_EQ(snapshot->cycles, k);
    EXPECT_EQ(snapshot->timeNs, static_cast<int64_t>(k - 1) * 10 * kMs);
    EXPECT_EQ(live.latest(0), static_cast<int16_t>(k));   // Count
    EXPECT_EQ(snapshot->data.size(), 8u);
  }
}

TEST(Exchange, RequestsApplyBetweenTwoCyclesInTheOrderTheyCame) {
  enum Kind { Write, Force, Release };
  const struct {
    std::vector<std::pair<Kind, int16_t>> requests;   // on In
    int16_t in;                                       // In after the next cycle; Out = In + Count (1)
  } cases[] = {
      {{{Write, 5}}, 5},
      {{{Write, 5}, {Write, 9}}, 9},
      {{{Force, 7}, {Write, 9}}, 7},   // the force is written again before the cycle
      {{{Write, 9}, {Force, 7}}, 7},
      {{{Force, 7}, {Release, 0}, {Write, 9}}, 9},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.requests.size());
    Live live;
    const Variable in = live.named("In");
    std::vector<std::future<Status>> answers;
    for (const auto& [kind, v] : c.requests) {
      answers.push_back(kind == Write   ? live.exchange->write(in, Live::value(v))
                        : kind == Force ? live.exchange->force(in, Live::value(v))
                                        : live.exchange->release(in));
    }
    // Nothing is applied while no cycle comes.
    EXPECT_EQ(answers.front().wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);
    EXPECT_EQ(live.latest(2), 0);
    live.cycle();
    for (auto& answer : answers) EXPECT_TRUE(answer.get());
    EXPECT_EQ(live.latest(2), c.in);
    EXPECT_EQ(live.latest(4), c.in + 1);
  }
}

TEST(Exchange, AGroupIsWrittenWholeOrNotAtAll) {
  Live live;
  Variable beyond;   // 2 bytes at 7 of an area of 8
  beyond.name = "7:INT";
  beyond.offset = 7;
  beyond.type = ValueType::Int;
  auto refused = live.exchange->write_many({{live.named("In"), Live::value(3)}, {beyond, Live::value(4)}});
  auto written =
      live.exchange->write_many({{live.named("In"), Live::value(3)}, {live.named("Count"), Live::value(100)}});
  live.cycle();
  const Status first = refused.get();
  ASSERT_FALSE(first);
  EXPECT_EQ(first.error().message, "7:INT lies beyond the data area (8 bytes)");
  EXPECT_TRUE(written.get());
  EXPECT_EQ(live.latest(0), 101);   // Count: 100, and the cycle's 1
  EXPECT_EQ(live.latest(2), 3);
}

TEST(Exchange, AForceOnWhatTheProgramWritesIsRenewedAfterEachCycle) {
  Live live;
  live.exchange->force_now(live.named("Count"), Live::value(50));
  live.cycle();
  live.cycle();
  // The program made Count 51 in each cycle and computed Out from it; every reader after the cycle
  // sees the forced 50.
  EXPECT_EQ(live.latest(0), 50);
  EXPECT_EQ(live.latest(4), 51);
  ASSERT_EQ(live.exchange->forces().size(), 1u);
  EXPECT_EQ(live.exchange->forces()[0].variable.name, "Count");
}

}  // namespace
}  // namespace softplc_test
