// What a cycle and a data access cost, through the exports as a runtime calls them: a cycle with
// the hook switch off (the cost of every hook is then a switch test), a cycle with the hooks on
// and a handler that only counts (installed with a user pointer, and in the direct form), and the
// byte copies of the data-access exports.
#include <benchmark/benchmark.h>

#include <memory>

#include "kxrt.h"
#include "loaded_module.h"

namespace {

uint64_t g_directEvents = 0;
int32_t KX_STDCALL count_enter(int32_t, void*, int32_t, EntryPointDescriptor*) {
  ++g_directEvents;
  return 0;
}
int32_t KX_STDCALL count_exit(EntryPointDescriptor*) {
  ++g_directEvents;
  return 0;
}

struct Fixture {
  std::unique_ptr<LoadedModule> module;
  uint32_t globalSwitch = 0;
  int64_t now = 0;
  uint64_t events = 0;

  Fixture() {
    module = std::make_unique<LoadedModule>(module_path());
    kxrt_register_entry_point(module->ep);
    module->ep->globalDebugFlag = &globalSwitch;
    kxrt_clock_select(KXRT_CLOCK_SIMULATED);
    module->simpleMain(KX_MODE_INIT, 0);
    module->write<uint8_t>(12, 1);   // IntRampEnable
    module->write<uint8_t>(24, 1);   // RealRampEnable
    kxdbg_set_handler([](void* user, int32_t, void*, int32_t, EntryPointDescriptor*) { ++*static_cast<uint64_t*>(user); },
                      [](void* user, EntryPointDescriptor*) { ++*static_cast<uint64_t*>(user); }, &events);
  }
  void cycle() {
    kxrt_clock_set_ns(now);
    now += 10'000'000;
    module->simpleMain(KX_MODE_CYCLE, 0);
  }
};

Fixture& fixture() {
  static Fixture f;
  return f;
}

void BM_CycleHooksOff(benchmark::State& state) {
  Fixture& f = fixture();
  f.globalSwitch = 0;
  for (auto _ : state) f.cycle();
}
BENCHMARK(BM_CycleHooksOff);

void BM_CycleHooksOn(benchmark::State& state) {
  Fixture& f = fixture();
  f.globalSwitch = 1;
  const uint64_t before = f.events;
  for (auto _ : state) f.cycle();
  f.globalSwitch = 0;
  state.counters["hook_calls_per_cycle"] =
      static_cast<double>(f.events - before) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_CycleHooksOn);

void BM_CycleHooksOnDirect(benchmark::State& state) {
  Fixture& f = fixture();
  kxdbg_set_direct_handler(count_enter, count_exit);
  f.globalSwitch = 1;
  const uint64_t before = g_directEvents;
  for (auto _ : state) f.cycle();
  f.globalSwitch = 0;
  kxdbg_set_handler([](void* user, int32_t, void*, int32_t, EntryPointDescriptor*) { ++*static_cast<uint64_t*>(user); },
                    [](void* user, EntryPointDescriptor*) { ++*static_cast<uint64_t*>(user); }, &f.events);
  state.counters["hook_calls_per_cycle"] =
      static_cast<double>(g_directEvents - before) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_CycleHooksOnDirect);

void BM_GetData(benchmark::State& state) {
  Fixture& f = fixture();
  std::vector<uint8_t> buffer(static_cast<size_t>(state.range(0)));
  DataRef ref{f.module->ep, 0};
  for (auto _ : state) {
    benchmark::DoNotOptimize(f.module->getData(&ref, buffer.data(), static_cast<uint32_t>(buffer.size())));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_GetData)->Arg(4)->Arg(896);

}  // namespace

BENCHMARK_MAIN();
