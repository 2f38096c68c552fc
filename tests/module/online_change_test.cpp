// A real online change on our runtime: the running module is replaced by its variant between two
// cycles, and the program goes on where it was.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "kxrt.h"
#include "loaded_module.h"

namespace {

class OnlineChangeTest : public ::testing::Test {
 protected:
  std::unique_ptr<LoadedModule> running;
  std::unique_ptr<LoadedModule> next;
  int64_t now_ns = 0;

  void SetUp() override {
    running = std::make_unique<LoadedModule>(module_path());
    next = std::make_unique<LoadedModule>(next_module_path());
    ASSERT_EQ(kxrt_register_entry_point(running->ep), 0) << kxrt_last_message();
    ASSERT_EQ(kxrt_register_entry_point(next->ep), 0) << kxrt_last_message();
    kxrt_clock_select(KXRT_CLOCK_SIMULATED);
    ASSERT_EQ(running->simpleMain(KX_MODE_INIT, 0), 0);
    running->write<uint8_t>(12, 1);   // IntRampEnable
    running->write<uint8_t>(24, 1);   // RealRampEnable
  }
  void TearDown() override { kxrt_unregister_all(); }

  void cycles(LoadedModule& m, int n) {
    for (int i = 0; i < n; ++i) {
      kxrt_clock_set_ns(now_ns);
      ASSERT_EQ(m.simpleMain(KX_MODE_CYCLE, 0), 0);
      now_ns += 10'000'000;
    }
  }
};

// Whether the host declares the online change to the runtime (kxrt_online_change_begin/end around
// the re-initialisation) or not: the runtime keeps the moved values either way.
class OnlineChangeByHost : public OnlineChangeTest, public ::testing::WithParamInterface<bool> {};

TEST_P(OnlineChangeByHost, VariablesKeepTheirValuesAcrossTheChange) {
  const bool declared = GetParam();
  cycles(*running, 1500);   // 15 s: the ramps at about 15, the blinker mid-period
  const auto before = running->snapshot();
  const float realOut = running->read<float>(20);
  EXPECT_NEAR(realOut, 14.99f, 0.02f);

  EXPECT_EQ(next->isReloadPossible(next->ep, running->ep, 0), 0);
  if (declared) {
    ASSERT_EQ(kxrt_online_change_begin(next->ep), 0);
  }
  EXPECT_EQ(next->reInit(next->ep, running->ep, 0), 0);
  if (declared) {
    ASSERT_EQ(kxrt_online_change_end(next->ep), 0);
  }

  const auto after = next->snapshot();
  for (auto [from, to] : {std::pair{0, 56}, {56, 259}, {260, 628}, {720, 893}})
    for (int i = from; i < to; ++i) ASSERT_EQ(after[i], before[i]) << "byte " << i;
  EXPECT_EQ(next->read<uint16_t>(776), 1000);   // the re-initialisation table's values
  EXPECT_EQ(next->read<uint16_t>(778), 1000);

  DataRef ref{running->ep, 20};   // RealRampOut, as the runtime's debugger holds it
  EXPECT_EQ(next->mapDataAddress(&ref, next->ep), 0);
  EXPECT_EQ(ref.descriptor, next->ep);
  EXPECT_EQ(ref.offset, 20u);
  DataRef unused{running->ep, 700};   // no variable lives there: nothing to map it to
  EXPECT_EQ(next->mapDataAddress(&unused, next->ep), 65);
  EXPECT_EQ(unused.descriptor, running->ep);

  // The ramp goes on from where it was, by one cycle's distance; its clock kept running.
  cycles(*next, 1);
  const float moved = next->read<float>(20) - realOut;
  EXPECT_NEAR(moved, 0.01f, 0.0005f);
  cycles(*next, 9000);
  EXPECT_EQ(next->read<float>(20), 100.0f);
  EXPECT_EQ(next->read<int16_t>(16), 100);
}

INSTANTIATE_TEST_SUITE_P(Host, OnlineChangeByHost, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Declared" : "Undeclared"; });

TEST_F(OnlineChangeTest, RefusedChangesLeaveEverythingAlone) {
  cycles(*running, 10);
  const auto before = running->snapshot();
  const auto nextBefore = next->snapshot();
  // The plain module supports no online change; the variant replaces only the plain layout.
  EXPECT_EQ(running->isReloadPossible(running->ep, next->ep, 0), 69);
  EXPECT_EQ(next->isReloadPossible(next->ep, next->ep, 0), 67);
  EXPECT_EQ(next->reInit(next->ep, next->ep, 0), 67);
  EXPECT_EQ(running->snapshot(), before);
  EXPECT_EQ(next->snapshot(), nextBefore);
}

}  // namespace
