#include "app/networks.h"
#include "app/program.h"
#include "blocks/hooks.h"

// The program's networks run in this order in every cycle, none of them conditional.
void Program_Control(uint8_t* dataArea, EntryPointDescriptor* descriptor) {
  DataArea* const base = reinterpret_cast<DataArea*>(dataArea);
  kx_enter_hook(KX_TYPE_PROGRAM_CONTROL, dataArea, KX_EVENT_ENTRY, descriptor);
  Network_LagFilter(base, descriptor);
  Network_IntRamp(base, descriptor);
  Network_RealRamp(base, descriptor);
  Network_Blinker(base, descriptor);
  Network_Ext1(base, descriptor);
  kx_exit_hook(descriptor);
}
