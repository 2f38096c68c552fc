#include "app/networks.h"
#include "app/program.h"
#include "blocks/hooks.h"

#if defined(KX_SLOW_CYCLE_FIXTURE)
// The test fixture CCodePublic_slow only (tests/module/slow_cycle.cpp): while ExtIn8 is TRUE, the
// cycle takes ExtIn1 milliseconds longer.
void kx_slow_cycle(const DataArea* vars);
#endif

// The program's networks run in this order in every cycle, none of them conditional.
void Program_Control(uint8_t* dataArea, EntryPointDescriptor* descriptor) {
  DataArea* const base = reinterpret_cast<DataArea*>(dataArea);
  kx_enter_hook(KX_TYPE_PROGRAM_CONTROL, dataArea, KX_EVENT_ENTRY, descriptor);
  Network_LagFilter(base, descriptor);
  Network_IntRamp(base, descriptor);
  Network_RealRamp(base, descriptor);
  Network_Blinker(base, descriptor);
  Network_Ext1(base, descriptor);
#if defined(KX_SLOW_CYCLE_FIXTURE)
  kx_slow_cycle(&kx_dataArea);
#endif
  kx_exit_hook(descriptor);
}
