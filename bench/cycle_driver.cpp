// Runs the module's cycle a given number of times, for instruction counts under callgrind
// (bench/count-instructions.sh): the difference of two runs of different lengths is the cost of
// the cycles alone, start-up and loading cancel.
//
//   cycle_driver_rtlib CYCLES [hooks | hooks-user]
//       our runtime libraries; with "hooks" the global switch is on and a handler that only
//       counts is installed in the direct form (the hooks jump to it), with "hooks-user" the same
//       count in the user-pointer form (the library calls it with its pointer)
//   cycle_driver_stubs CYCLES
//       do-nothing runtime functions defined in this executable
//
// Both ramps are enabled (IntRampEnable, RealRampEnable) and the clock moves 10 ms per cycle. The
// rtlib driver is built without position independence (CMakeLists.txt): the counting handler
// then reaches its counter with one instruction, as in any host that is not a PIE; a position-
// independent handler adds the set-up of its GOT pointer (about 4 instructions per event).
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

namespace {
// The direct handler's count: a plain variable of the executable, one instruction away.
uint32_t g_events;
int32_t KX_STDCALL count_enter(int32_t, void*, int32_t, EntryPointDescriptor*) {
  ++g_events;
  return 0;
}
int32_t KX_STDCALL count_exit(EntryPointDescriptor*) {
  ++g_events;
  return 0;
}
}  // namespace
#endif

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s CYCLES [hooks]\n", argv[0]);
    return 2;
  }
  const long cycles = std::strtol(argv[1], nullptr, 10);
  const bool direct = argc > 2 && std::strcmp(argv[2], "hooks") == 0;
  const bool user = argc > 2 && std::strcmp(argv[2], "hooks-user") == 0;
  const bool hooks = direct || user;

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
  uint32_t userEvents = 0;
  if (kxrt_register_entry_point(module.ep) != 0 || kxrt_clock_select(KXRT_CLOCK_SIMULATED) != 0) {
    std::fprintf(stderr, "runtime refused: %s\n", kxrt_last_message());
    return 1;
  }
  module.simpleMain(KX_MODE_INIT, 0);
  module.write<uint8_t>(12, 1);   // IntRampEnable
  module.write<uint8_t>(24, 1);   // RealRampEnable
  if (direct) kxdbg_set_direct_handler(count_enter, count_exit);
  if (user) {
    // The handler counts into the host's own variable, handed over as its user pointer.
    kxdbg_set_handler(
        [](void* user, int32_t, void*, int32_t, EntryPointDescriptor*) { ++*static_cast<uint32_t*>(user); },
        [](void* user, EntryPointDescriptor*) { ++*static_cast<uint32_t*>(user); }, &userEvents);
  }
  if (hooks) globalSwitch = 1;
  for (long k = 0; k < cycles; ++k) {
    kxrt_clock_set_ns(k * 10'000'000LL);   // sets and latches the cycle's instant
    kxdbg_begin_cycle();
    module.simpleMain(KX_MODE_CYCLE, 0);
  }
  const uint32_t events = direct ? g_events : userEvents;
  if (hooks) std::printf("events per cycle: %.1f\n", cycles > 0 ? double(events) / double(cycles) : 0.0);
#endif
  return 0;
}
