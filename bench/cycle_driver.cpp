// Runs the module's cycle a given number of times, for instruction counts under callgrind
// (bench/count-instructions.sh): the difference of two runs of different lengths is the cost of
// the cycles alone, start-up and loading cancel.
//
//   cycle_driver_rtlib CYCLES [hooks]   our runtime libraries; "hooks": global switch on and a
//                                       handler that only counts
//   cycle_driver_stubs CYCLES           do-nothing runtime functions defined in this executable
//
// Both ramps are enabled (IntRampEnable, RealRampEnable) and the clock moves 10 ms per cycle.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "loaded_module.h"
#include "abi/kx_debug.h"
#include "abi/kx_framework.h"

#if defined(KX_DRIVER_STUBS)
// The module finds its runtime by undefined symbols: these, exported by this executable, come
// first in the global scope and take the place of our libraries' functions on the cycle's path.
// Each does as little as its result allows.
namespace {
double g_double;
}
extern "C" {
void KX_CDECL KX_fv_TON(TimerRecord*, EntryPointDescriptor*) {}
void KX_CDECL KX_fv_TOF(TimerRecord*, EntryPointDescriptor*) {}
KX_TIME KX_CDECL kxtQwCnvUlL2SQw(uint32_t low, int32_t high) {
  return static_cast<KX_TIME>(uint64_t{static_cast<uint32_t>(high)} << 32 | low);
}
KX_TIME KX_CDECL kxtQwCnvUl2SQw(uint32_t value) { return value; }
KX_TIME KX_CDECL kxtQwMulQwUl(KX_TIME a, uint32_t) { return a; }
KX_TIME KX_CDECL kxtQwDivQwL(KX_TIME a, int32_t) { return a; }
KX_TIME KX_CDECL kxtQwSubQwQw(KX_TIME a, KX_TIME) { return a; }
const double* KX_CDECL kxtQwCnvSQw2DPtr(KX_TIME) { return &g_double; }
int32_t KX_STDCALL KXoplck_EnterBreakpoint(int32_t, void*, int32_t, EntryPointDescriptor*) { return 0; }
int32_t KX_STDCALL KXoplck_ExitBreakpoint(EntryPointDescriptor*) { return 0; }
void KX_STDCALL KXoplck_clrErrorInfo(void) {}
void KX_STDCALL KXoplck_setErrorInfo(int32_t, int32_t) {}
int32_t KX_STDCALL KXoplck_getErrorInfo(void) { return 0; }
}
#else
#include "kxrt.h"
#endif

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s CYCLES [hooks]\n", argv[0]);
    return 2;
  }
  const long cycles = std::strtol(argv[1], nullptr, 10);
  const bool hooks = argc > 2 && std::strcmp(argv[2], "hooks") == 0;

  LoadedModule module(module_path());
  uint32_t globalSwitch = 0;
  module.ep->globalDebugFlag = &globalSwitch;
#if defined(KX_DRIVER_STUBS)
  if (hooks) {
    std::fprintf(stderr, "the stubs driver has no hook handler\n");
    return 2;
  }
  module.simpleMain(KX_MODE_INIT, 0);
  module.write<uint8_t>(12, 1);   // IntRampEnable
  module.write<uint8_t>(24, 1);   // RealRampEnable
  for (long k = 0; k < cycles; ++k) module.simpleMain(KX_MODE_CYCLE, 0);
#else
  uint64_t events = 0;
  if (kxrt_register_entry_point(module.ep) != 0 || kxrt_clock_select(KXRT_CLOCK_SIMULATED) != 0) {
    std::fprintf(stderr, "runtime refused: %s\n", kxrt_last_message());
    return 1;
  }
  module.simpleMain(KX_MODE_INIT, 0);
  module.write<uint8_t>(12, 1);   // IntRampEnable
  module.write<uint8_t>(24, 1);   // RealRampEnable
  if (hooks) {
    // The handler counts into the host's own variable, handed over as its user pointer.
    kxdbg_set_handler(
        [](void* user, int32_t, void*, int32_t, EntryPointDescriptor*) { ++*static_cast<uint64_t*>(user); },
        [](void* user, EntryPointDescriptor*) { ++*static_cast<uint64_t*>(user); }, &events);
    globalSwitch = 1;
  }
  for (long k = 0; k < cycles; ++k) {
    kxrt_clock_set_ns(k * 10'000'000LL);   // sets and latches the cycle's instant
    kxdbg_begin_cycle();
    module.simpleMain(KX_MODE_CYCLE, 0);
  }
  if (hooks) std::printf("events per cycle: %.1f\n", cycles > 0 ? double(events) / double(cycles) : 0.0);
#endif
  return 0;
}
